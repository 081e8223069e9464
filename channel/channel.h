// The channel interface: owns the channel's generator, holds P0 and the seed, restarts the
// generator on request and writes the channel heading of the report.
#pragma once

#include <cstdint>

#include "channel/shift_xor_generator.h"
#include "text/report_stream.h"
#include "text/symbol.h"

namespace nbsim {

class Channel {
 public:
  virtual ~Channel() = default;

  // Writes the channel's parameter line (its P0) to the report.
  virtual void writeParameters(text::ReportStream& report) const = 0;

  // Passes `count` symbols from `input` to `output`, corrupting them by the channel's rule.
  // A count of 0 or less touches nothing and draws nothing.
  virtual void transmit(const Symbol* input, Symbol* output, std::int32_t count) = 0;

  // Writes the channel section heading "\nПараметры канала связи:\n".
  virtual void writeDescription(text::ReportStream& report) const;

  // Restarts the generator at the start of the seed's sequence; always returns true.
  virtual bool reseed();

  // Stores the symbol error probability used by every later transmit.
  void setErrorProbability(float P0) { P0_ = P0; }
  float errorProbability() const { return P0_; }

  // Stores the seed that the next reseed passes to the generator.
  void setSeed(std::int32_t seed) { seed_ = seed; }
  std::int32_t seed() const { return seed_; }

 protected:
  ShiftXorGenerator generator_;
  float P0_ = 0.0f;
  std::int32_t seed_ = 0;
};

}  // namespace nbsim
