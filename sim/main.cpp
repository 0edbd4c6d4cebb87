// vum-sim: the simulated PC that VUM drives as "bochs". See --help.
#include <cstdio>
#include <cstdlib>

#include "bios.hpp"
#include "debugger.hpp"
#include "machine.hpp"
#include "options.hpp"

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
  std::vector<std::string> notes = options.notes;
  if (options.image.empty()) {
    machine.mem.load(sim::bios::kBootAddress, sim::bios::kDemo, sim::bios::kDemoSize);
  } else {
    std::string image;
    if (!sim::read_file(options.image, &image)) {
      fprintf(stderr, "vum-sim: cannot read the boot image\n");
      return 1;
    }
    size_t room = sim::kMemorySize - sim::bios::kBootAddress;
    if (image.size() > room) {
      notes.push_back("Boot image cut to the end of memory");
      image.resize(room);
    }
    machine.mem.load(sim::bios::kBootAddress, reinterpret_cast<const uint8_t *>(image.data()), image.size());
  }
  if (!options.state.empty()) {
    std::string state;
    if (!sim::read_file(options.state, &state)) {
      fprintf(stderr, "vum-sim: cannot read the state file\n");
      return 1;
    }
    sim::apply_state(state, machine, &notes);
  }
  return sim::run_debugger(machine, options, options.image, notes);
}
