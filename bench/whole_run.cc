// whole_run ROUNDS DIR MASTER PLAIN: times whole processes, alternating, on a fresh input
// each.
// whole_run --floor ROUNDS DIR MASTER: times unprc against the floor in pairs.
//
// Each round lays DIR/in.PRC anew from MASTER and clears the outputs (untimed), then
// times, in turn:
//   unprc in.PRC            (from the environment variable UNPRC)
//   dd if=in.PRC of=out bs=1M conv=fsync   (the durable floor)
//   cp in.PRC out                           (the non-durable floor)
//   mkprc plain out.PRC     (from the environment variable MKPRC; plain is PLAIN's copy)
//   dd if=plain of=out bs=1M conv=fsync    (mkprc's durable floor)
//   prccat in.PRC > /dev/null  (from the environment variable PRCCAT)
//   cat plain > /dev/null      (prccat's floor: the plain payload read and written)
// Every command's standard output goes to /dev/null. Wall time is taken around
// posix_spawn and wait4.
//
// With --floor, each round lays DIR/in.PRC anew from MASTER (untimed) before each of
//   unprc in.PRC            (from the environment variable UNPRC)
//   swap_floor in.PRC       (from the environment variable FLOOR: the least a durable swap
//                            of the file does)
// the two in turn, the first of each pair alternating. It reports each one's median time
// and page faults (as wait4 reports them for the process), the median of the pair-by-pair
// ratios and the median of the pair-by-pair differences. (Not the peak resident size:
// wait4 reports it at least as large as this process's own, which is larger than either.)
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

// What one run of a command took: its wall time and its page faults.
struct Took {
  double ms;
  long minor_faults;
  long major_faults;
};

Took Run(const std::vector<std::string>& argv, const fs::path& dir) {
  std::vector<char*> args;
  args.reserve(argv.size() + 1);
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  fs::current_path(dir);
  const auto start = std::chrono::steady_clock::now();
  // The tool's progress line would only get in the way of the report.
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  const int failed = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (failed != 0) {
    std::perror(args[0]);
    std::exit(1);
  }
  int status = 0;
  struct rusage usage {};
  wait4(pid, &status, 0, &usage);
  const std::chrono::duration<double, std::milli> elapsed =
      std::chrono::steady_clock::now() - start;
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    (void)std::fprintf(stderr, "%s failed\n", args[0]);
    std::exit(1);
  }
  return {elapsed.count(), usage.ru_minflt, usage.ru_majflt};
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

void Lay(const fs::path& dir, const fs::path& master) {
  for (const char* name : {"in.PRC", "in.PRC.BAK", "in.PRC.$$$", "out", "out.PRC", "out.PRC.$$$"})
    fs::remove(dir / name);
  fs::copy_file(master, dir / "in.PRC");
}

// The --floor mode: unprc and the floor in alternating pairs.
int FloorPairs(long rounds, const fs::path& dir, const fs::path& master) {
  const char* tool = std::getenv("UNPRC");
  const char* floor = std::getenv("FLOOR");
  if (tool == nullptr || floor == nullptr) {
    (void)std::fprintf(stderr,
                       "usage: UNPRC=PATH FLOOR=PATH whole_run --floor ROUNDS DIR MASTER\n");
    return 2;
  }
  const std::vector<std::string> commands[] = {{tool, "in.PRC"}, {floor, "in.PRC"}};
  const char* names[] = {"unprc", "swap_floor"};
  std::vector<Took> took[2];
  std::vector<double> ratios;
  std::vector<double> differences;
  for (long round = 0; round < rounds; ++round) {
    Took t[2];
    for (std::size_t i = 0; i < 2; ++i) {
      const std::size_t c = (i + static_cast<std::size_t>(round)) % 2;
      Lay(dir, master);
      t[c] = Run(commands[c], dir);
      took[c].push_back(t[c]);
    }
    ratios.push_back(t[0].ms / t[1].ms);
    differences.push_back(t[0].ms - t[1].ms);
  }
  Lay(dir, master);
  std::printf("%ld pairs, a %ju-byte input, in %s\n", rounds,
              static_cast<std::uintmax_t>(fs::file_size(master)), dir.c_str());
  for (std::size_t c = 0; c < 2; ++c) {
    const auto median = [&](auto field) {
      std::vector<double> v;
      for (const Took& t : took[c]) v.push_back(static_cast<double>(t.*field));
      return Median(v);
    };
    std::printf("  %-10s median %7.3f ms, page faults (medians) %3.0f minor, %.0f major\n",
                names[c], median(&Took::ms), median(&Took::minor_faults),
                median(&Took::major_faults));
  }
  std::printf("  unprc / swap_floor: median of pair ratios %.3f, of pair differences %.3f ms\n",
              Median(ratios), Median(differences));
  return 0;
}

}  // namespace

int main(int argc, char* argv[]) {
  if (argc == 5 && std::string(argv[1]) == "--floor") {
    return FloorPairs(std::strtol(argv[2], nullptr, 10), fs::absolute(argv[3]),
                      fs::absolute(argv[4]));
  }
  const char* tool = std::getenv("UNPRC");
  const char* mkprc = std::getenv("MKPRC");
  const char* prccat = std::getenv("PRCCAT");
  if (argc != 5 || tool == nullptr || mkprc == nullptr || prccat == nullptr) {
    (void)std::fprintf(
        stderr, "usage: UNPRC=PATH MKPRC=PATH PRCCAT=PATH whole_run ROUNDS DIR MASTER PLAIN\n");
    return 2;
  }
  const long rounds = std::strtol(argv[1], nullptr, 10);
  const fs::path dir = fs::absolute(argv[2]);
  const fs::path master = fs::absolute(argv[3]);
  fs::copy_file(fs::absolute(argv[4]), dir / "plain", fs::copy_options::overwrite_existing);
  const std::vector<std::vector<std::string>> commands = {
      {tool, "in.PRC"},
      {"dd", "if=in.PRC", "of=out", "bs=1M", "conv=fsync", "status=none"},
      {"cp", "in.PRC", "out"},
      {mkprc, "plain", "out.PRC"},
      {"dd", "if=plain", "of=out", "bs=1M", "conv=fsync", "status=none"},
      {prccat, "in.PRC"},
      {"cat", "plain"},
  };
  const char* names[] = {"unprc",    "dd conv=fsync", "cp",       "mkprc",
                         "dd plain", "prccat",        "cat plain"};
  std::vector<std::vector<double>> ms(commands.size());
  std::vector<double> vs_dd;
  std::vector<double> vs_cp;
  std::vector<double> mkprc_vs_dd;
  std::vector<double> prccat_vs_cat;
  for (long round = 0; round < rounds; ++round) {
    std::vector<double> t(commands.size());
    for (std::size_t i = 0; i < commands.size(); ++i) {
      // Alternate which command goes first, so neither always follows the other.
      const std::size_t c = (i + static_cast<std::size_t>(round)) % commands.size();
      Lay(dir, master);
      t[c] = Run(commands[c], dir).ms;
      ms[c].push_back(t[c]);
    }
    vs_dd.push_back(t[0] / t[1]);
    vs_cp.push_back(t[0] / t[2]);
    mkprc_vs_dd.push_back(t[3] / t[4]);
    prccat_vs_cat.push_back(t[5] / t[6]);
  }
  Lay(dir, master);
  std::printf("%ld rounds, 1 MiB input, in %s\n", rounds, dir.c_str());
  for (std::size_t c = 0; c < commands.size(); ++c) {
    std::printf("  %-14s median %7.3f ms\n", names[c], Median(ms[c]));
  }
  std::printf("  unprc / dd conv=fsync: median of pair ratios %.3f\n", Median(vs_dd));
  std::printf("  unprc / cp:            median of pair ratios %.3f\n", Median(vs_cp));
  std::printf("  mkprc / dd conv=fsync: median of pair ratios %.3f (the same plain file)\n",
              Median(mkprc_vs_dd));
  std::printf("  prccat / cat:          median of pair ratios %.3f (cat of the plain payload)\n",
              Median(prccat_vs_cat));
  return 0;
}
