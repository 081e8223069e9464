// The parts shared by every channel: the report heading and restarting the generator.
#include "channel/channel.h"

namespace nbsim {

void Channel::writeDescription(text::ReportStream& report) const {
  report << "\nПараметры канала связи:\n";
}

bool Channel::reseed() {
  generator_.init(seed_);
  return true;
}

}  // namespace nbsim
