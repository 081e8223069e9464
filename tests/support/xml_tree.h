// Test support: a strict reader of the XML that the program writes (a declaration, elements,
// quoted attributes, character data without markup characters). Whatever is not well-formed is
// refused, so that a test can tell a picture that a browser opens from one that it rejects.
#pragma once

#include <cctype>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace nbsim::testing {

struct XmlElement {
  std::string name;
  std::map<std::string, std::string> attributes;
  std::vector<std::unique_ptr<XmlElement>> children;

  // Every element below this one whose `attribute` is `value`, in document order.
  void collect(const std::string& attribute, const std::string& value,
               std::vector<const XmlElement*>& found) const {
    for (const auto& child : children) {
      const auto it = child->attributes.find(attribute);
      if (it != child->attributes.end() && it->second == value) found.push_back(child.get());
      child->collect(attribute, value, found);
    }
  }
};

// The root element of `document`, or nothing with `error` saying what is wrong and where.
class XmlReader {
 public:
  std::unique_ptr<XmlElement> read(std::string_view document, std::string& error) {
    text_ = document;
    at_ = text_.substr(0, 5) == "<?xml" ? text_.find("?>") : 0;
    if (at_ == std::string_view::npos) return fail("unterminated declaration", error);
    if (at_ > 0) at_ += 2;
    skipSpace();
    auto root = element(error);
    skipSpace();
    if (root && at_ != text_.size()) return fail("content after the root element", error);
    return root;
  }

 private:
  std::unique_ptr<XmlElement> fail(const std::string& why, std::string& error) {
    error = why + " at byte " + std::to_string(at_);
    return nullptr;
  }
  bool is(std::string_view part) const { return text_.substr(at_, part.size()) == part; }
  void skipSpace() {
    while (at_ < text_.size() && std::isspace(static_cast<unsigned char>(text_[at_]))) ++at_;
  }
  std::string name() {
    const std::size_t start = at_;
    while (at_ < text_.size() &&
           (std::isalnum(static_cast<unsigned char>(text_[at_])) || text_[at_] == '-')) {
      ++at_;
    }
    return std::string(text_.substr(start, at_ - start));
  }
  // Skips character data up to `stop`; false on markup inside it or at the end of the text.
  bool characters(char stop) {
    while (at_ < text_.size() && text_[at_] != stop) {
      if (text_[at_] == '<' || text_[at_] == '&') return false;
      ++at_;
    }
    return at_ < text_.size();
  }

  std::unique_ptr<XmlElement> element(std::string& error) {
    if (!is("<")) return fail("expected an element", error);
    ++at_;
    auto node = std::make_unique<XmlElement>();
    node->name = name();
    if (node->name.empty()) return fail("element without a name", error);
    for (;;) {
      const std::size_t before = at_;
      skipSpace();
      if (is(">") || is("/>")) break;
      if (at_ == before) return fail("no blank before an attribute", error);
      const std::string attribute = name();
      if (attribute.empty() || !is("=\"")) return fail("bad attribute", error);
      at_ += 2;
      const std::size_t start = at_;
      if (!characters('"')) return fail("bad value of " + attribute, error);
      if (!node->attributes.emplace(attribute, text_.substr(start, at_++ - start)).second) {
        return fail(attribute + " given twice", error);
      }
    }
    if (is("/>")) {
      at_ += 2;
      return node;
    }
    ++at_;
    for (;;) {
      if (!characters('<')) return fail("bad character data in <" + node->name + ">", error);
      if (is("</")) {
        at_ += 2;
        if (name() != node->name || !is(">")) return fail("<" + node->name + "> not closed", error);
        ++at_;
        return node;
      }
      auto child = element(error);
      if (!child) return nullptr;
      node->children.push_back(std::move(child));
    }
  }

  std::string_view text_;
  std::size_t at_ = 0;
};

}  // namespace nbsim::testing
