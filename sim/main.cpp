// vum-sim: the simulated PC that VUM drives as "bochs". See --help.
#include <cstdio>
#include <cstdlib>

#include "bios.hpp"
#include "debugger.hpp"
#include "guests.hpp"
#include "machine.hpp"
#include "options.hpp"
#include "replies.hpp"

namespace {
const char *from_environment(const char *name) { return getenv(name); }
}  // namespace

int main(int argc, char **argv) {
  sim::Options options = sim::parse_options(argc, argv, from_environment);
  if (options.help) {
    fputs(sim::usage_text().c_str(), stdout);
    return 0;
  }
  static sim::Machine machine;
  sim::reset(machine);
  machine.reset_on_triple_fault = options.reset_on_triple_fault;
  std::vector<std::string> notes = options.notes;
  // What the start-up text names as the boot image: empty for the demo.
  std::string image_name;
  const sim::GuestImage *guest = nullptr;
  if (!options.guest.empty() && options.image.empty()) {
    guest = sim::find_guest(options.guest);
    if (!guest)
      notes.push_back("Ignored the guest '" + options.guest + "': the guests are " + sim::guest_names());
  } else if (!options.guest.empty()) {
    notes.push_back("Ignored the guest '" + options.guest + "': a boot image is given");
  }
  if (!options.image.empty()) {
    std::string image;
    if (!sim::read_file(options.image, &image)) {
      fputs(sim::reply::cannot_read("boot image").c_str(), stderr);
      return 1;
    }
    if (!sim::load_boot_image(machine, reinterpret_cast<const uint8_t *>(image.data()), image.size()))
      notes.push_back("Boot image cut to the end of memory");
    image_name = options.image;
  } else if (guest) {
    sim::load_boot_image(machine, guest->bytes, guest->size);
    image_name = std::string("built-in guest ") + guest->name;
  } else {
    sim::load_boot_image(machine, sim::bios::kDemo, sim::bios::kDemoSize);
  }
  if (!options.state.empty()) {
    std::string state;
    if (!sim::read_file(options.state, &state)) {
      fputs(sim::reply::cannot_read("state file").c_str(), stderr);
      return 1;
    }
    sim::apply_state(state, machine, &notes);
  }
  return sim::run_debugger(machine, options, image_name, notes);
}
