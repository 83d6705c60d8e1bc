// Chunk jobs away from the run's own loop, with the real tools: two ssh
// "machines" on the loopback and this one make the movie although one of
// them is switched off in the middle of a chunk; with this machine left out,
// the others encode every chunk, a film cut where only edge264 starts only
// on machines that have it; and the commands that a run which only cuts
// lists, run here as a job array would run them, leave chunks that the same
// conversion run again joins; a side-by-side film's chunks too.
#include "ChunkedRunFixture.h"
#include "OpenGopFilm.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <fmt/format.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <fstream>
#include <functional>
#include <thread>

namespace kestrova::bluray::test {
namespace {

using kestrova::test::writeFile;

std::string textOf(const fs::path &file) {
  return fs::exists(file) ? kestrova::test::readFile(file) : "";
}

bool waitFor(const std::function<bool()> &done, int seconds) {
  for (int i = 0; i < seconds * 10 && !done(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  return done();
}

std::vector<std::string> namesIn(const fs::path &folder) {
  std::vector<std::string> names;
  for (const auto &entry : fs::directory_iterator(folder))
    names.push_back(entry.path().filename().string());
  return names;
}

// How many chunk jobs a machine's `ran` notes.
int encodeChunkJobs(const std::string &ran) {
  int jobs = 0;
  for (auto at = ran.find("--encode-chunk"); at != std::string::npos; at = ran.find("--encode-chunk", at + 1))
    ++jobs;
  return jobs;
}

// A port of 127.0.0.1 that the kernel picks and nothing listens on.
int unusedLoopbackPort() {
  const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  int port = 0;
  if (::bind(listener, reinterpret_cast<sockaddr *>(&address), size) == 0 &&
      ::getsockname(listener, reinterpret_cast<sockaddr *>(&address), &size) == 0)
    port = ntohs(address.sin_port);
  ::close(listener);
  return port;
}

// Starts `words` as a child that is killed when this process dies, even
// when a timeout kills it outright, so that no server outlives its test.
pid_t startServer(const std::vector<std::string> &words) {
  std::vector<char *> argv;
  for (const auto &word : words)
    argv.push_back(const_cast<char *>(word.c_str()));
  argv.push_back(nullptr);
  const pid_t parent = ::getpid();
  const pid_t child = ::fork();
  if (child == 0) {
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent)
      ::_exit(127);
    const int null = ::open("/dev/null", O_RDWR);
    for (int fd : {0, 1, 2})
      ::dup2(null, fd);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  return child;
}

// A machine on the loopback: an sshd of its own on a port of 127.0.0.1 that
// the kernel picks, as the first process of a PID namespace, so that stopping
// it ends the jobs it runs as switching the machine off would. Its logins
// start in a home folder of its own, with a `kestrova` first on their PATH
// that notes its words in `ran` before it runs the test's installation; a
// `picture` (sed) edit changes the picture settings of its chunk jobs, as
// another encoder build there would encode otherwise.
struct LoopbackHost {
  LoopbackHost(const fs::path &root, const fs::path &keys, const fs::path &program, const std::string &picture = "")
      : root(root) {
    fs::create_directories(root / "home");
    const std::string real = quote(program.string());
    writeFile(root / "bin/kestrova",
              "#!/bin/sh\necho \"$*\" >>" + quote((root / "ran").string()) + "\n" +
                  (picture.empty() ? ""
                                   : "if [ \"$1\" = --encode-chunk ]; then\n  a=$2 b=$3 c=$4 s=$(echo \"$5\" | sed " +
                                         quote(picture) + "); shift 5\n  exec " + real +
                                         " --encode-chunk \"$a\" \"$b\" \"$c\" \"$s\" \"$@\"\nfi\n") +
                  "exec " + real + " \"$@\"\n");
    fs::permissions(root / "bin/kestrova", fs::perms::owner_exec, fs::perm_options::add);
    port = unusedLoopbackPort();
    // The user logs in by key only, only here (root too), and nothing of
    // the machine's own ssh set-up is read or changed.
    writeFile(root / "sshd_config",
              fmt::format("ListenAddress 127.0.0.1\nPort {}\nHostKey {}\nAuthorizedKeysFile {}\nPidFile none\n"
                          "StrictModes no\nPermitRootLogin prohibit-password\nPasswordAuthentication no\n"
                          "KbdInteractiveAuthentication no\nUsePAM no\n"
                          "ForceCommand cd {} && PATH={}:$PATH && eval \"$SSH_ORIGINAL_COMMAND\"\n",
                          port, (keys / "host").string(), (keys / "user.pub").string(), (root / "home").string(),
                          (root / "bin").string()));
    pid = startServer({"/usr/bin/unshare", "-p", "-f", "--mount-proc", "--kill-child", "/usr/sbin/sshd", "-D", "-f",
                       (root / "sshd_config").string(), "-E", (root / "sshd.log").string()});
    ready = waitFor([this] { return log().find("Server listening") != std::string::npos; }, 20);
  }
  ~LoopbackHost() { stop(); }

  void stop() {
    if (pid > 0 && ::kill(pid, SIGKILL) == 0)
      ::waitpid(pid, nullptr, 0);
    pid = 0;
  }
  std::string ran() const { return textOf(root / "ran"); }
  std::string log() const { return textOf(root / "sshd.log"); }

  fs::path root;
  int port = 0;
  pid_t pid = 0;
  bool ready = false;
};

constexpr const char *kOneSecondChunks = ", \"chunkSeconds\": 1";

class ChunkHosts : public ChunkedRunFixture {
protected:
  // Keys, a client set-up that reads nothing of the machine's own, and the
  // user that logs in; skips without the ssh tools.
  void prepareSsh() {
    for (const char *tool : {"/usr/sbin/sshd", "/usr/bin/ssh-keygen", "/usr/bin/parallel", "/usr/bin/rsync"})
      if (!fs::exists(tool))
        GTEST_SKIP() << tool << " is missing (openssh-server, openssh-client, parallel, rsync)";
    if (::geteuid() == 0) // sshd as root wants the folder its service would make
      fs::create_directories("/run/sshd");
    fs::create_directories(keys_);
    const auto made = run("ssh-keygen -q -t ed25519 -N '' -f " + quote((keys_ / "host").string()) +
                          " && ssh-keygen -q -t ed25519 -N '' -f " + quote((keys_ / "user").string()));
    ASSERT_EQ(made.status, 0) << made.err;
    writeFile(keys_ / "ssh_config", "Host *\n  IdentityFile " + (keys_ / "user").string() +
                                        "\n  IdentitiesOnly yes\n  UserKnownHostsFile /dev/null\n"
                                        "  StrictHostKeyChecking no\n  BatchMode yes\n  LogLevel ERROR\n");
    const passwd *user = ::getpwuid(::geteuid());
    ASSERT_NE(user, nullptr);
    user_ = user->pw_name;
  }
  // One job at a time on the machine that listens on `port`.
  std::string login(int port) const {
    return fmt::format("1/ssh -F {} -p {} {}@127.0.0.1\n", (keys_ / "ssh_config").string(), port, user_);
  }

  // The film converted in 1-second chunks through the hosts file into the
  // output folder `out` (default out_), in a PID namespace of its own.
  mvhevc::test::RunResult convertThroughHosts(const std::string &options, const fs::path &out = {}) {
    return run(command(kOneSecondChunks,
                       options + " --hosts " + quote(hostsFile_.string()) + " --output " +
                           quote((out.empty() ? out_ : out).string()),
                       true) +
               " 2>&1");
  }

  // The movie of the whole film, with its sound, alone in the output folder.
  void expectWholeMovie() {
    const MediaFacts movie = probeMedia(out_ / target().file);
    EXPECT_EQ(movie.videoFrames, kPairs);
    EXPECT_TRUE(movie.hasAudio);
    EXPECT_EQ(namesIn(out_), std::vector<std::string>{target().file});
  }

  // The same for the Vision Pro movie of the disc clip, whose length and
  // eyes are known.
  void expectWholeClipMovie() {
    expectWholeMovie();
    EXPECT_NEAR(probeMedia(out_ / "clip120.mov").videoSeconds, kPairs / 24.0, 0.1);
    const auto eyes = eyeQuality(out_ / "clip120.mov");
    EXPECT_GT(eyes[0].whole, 30.0);
    EXPECT_GT(eyes[1].whole, 30.0);
  }

  // Cuts the film into 1-second chunks without encoding them, runs each
  // listed command here as a job array would, then the conversion again,
  // which joins every chunk.
  void cutRunCommandsAndJoin() {
    const auto cut = run(command(kOneSecondChunks, "--cut-only --output " + quote(out_.string())) + " 2>&1");
    ASSERT_EQ(cut.status, 0) << cut.out;
    const auto folders = namesIn(out_);
    ASSERT_EQ(folders.size(), 1u) << cut.out;
    const fs::path commands = out_ / folders[0] / "chunks/commands";
    EXPECT_NE(cut.out.find(commands.string()), std::string::npos) << cut.out;
    std::ifstream list(commands);
    int lines = 0;
    for (std::string line; std::getline(list, line); ++lines) {
      const auto job =
          run("cd / && PATH=" + quote(program_.parent_path().string()) + ":$PATH sh -c " + quote(line) + " >/dev/null");
      EXPECT_EQ(job.status, 0) << line << "\n" << job.err;
    }
    EXPECT_EQ(lines, 5);
    const auto joined = run(command(kOneSecondChunks, "--output " + quote(out_.string())) + " 2>&1");
    ASSERT_EQ(joined.status, 0) << joined.out;
    EXPECT_NE(joined.out.find("5 of 5 chunks"), std::string::npos) << joined.out;
    EXPECT_EQ(probeMedia(out_ / target().file).videoFrames, kPairs);
    EXPECT_EQ(namesIn(out_), std::vector<std::string>{target().file});
  }

  fs::path keys_ = dir_ / "keys", hostsFile_ = dir_ / "hosts", out_ = dir_ / "out";
  std::string user_;
};

// Host b is switched off once it has begun a chunk: that chunk is encoded
// again elsewhere, and the movie is whole.
TEST_F(ChunkHosts, TwoMachinesAndThisOneMakeTheMovieThoughOneIsSwitchedOff) {
  ASSERT_NO_FATAL_FAILURE(prepareSsh());
  if (IsSkipped())
    return;
  LoopbackHost a(dir_ / "a", keys_, program_), b(dir_ / "b", keys_, program_);
  ASSERT_TRUE(a.ready && b.ready) << a.log() << b.log();
  writeFile(hostsFile_, "# two machines on the loopback\n" + login(a.port) + login(b.port));

  mvhevc::test::RunResult converted;
  std::thread conversion([&] { converted = convertThroughHosts("--jobs 1"); });
  const bool begun = waitFor([&] { return b.ran().find("--encode-chunk") != std::string::npos; }, 900);
  b.stop();
  conversion.join();
  ASSERT_TRUE(begun) << converted.out << b.log();
  ASSERT_EQ(converted.status, 0) << converted.out;
  expectWholeClipMovie();
  EXPECT_NE(a.ran().find("--encode-chunk"), std::string::npos) << a.log() << converted.out;
  EXPECT_TRUE(fs::is_empty(a.root / "home")) << "left behind on a host";
}

// Left out, this machine encodes nothing: the one machine that answers
// encodes every chunk, the one that does not is passed over; with no
// machine that answers, the run stops before the film is cut.
TEST_F(ChunkHosts, RemoteOnlyLeavesEveryChunkToTheOtherMachines) {
  ASSERT_NO_FATAL_FAILURE(prepareSsh());
  if (IsSkipped())
    return;
  const std::string nobody = login(unusedLoopbackPort());
  writeFile(hostsFile_, nobody);
  const fs::path failed = dir_ / "failed";
  const auto refused = convertThroughHosts("--remote-only", failed);
  EXPECT_NE(refused.status, 0);
  EXPECT_NE(refused.out.find(hostsFile_.string()), std::string::npos) << refused.out;
  // The failed run's folder keeps its log, but no movie and no cut pieces.
  for (const auto &entry : fs::recursive_directory_iterator(failed))
    EXPECT_FALSE(entry.path().extension() == ".mov" || entry.path().filename().string().starts_with("piece_"))
        << entry.path();

  LoopbackHost a(dir_ / "a", keys_, program_);
  ASSERT_TRUE(a.ready) << a.log();
  writeFile(hostsFile_, nobody + login(a.port));
  const auto converted = convertThroughHosts("--remote-only");
  ASSERT_EQ(converted.status, 0) << converted.out;
  expectWholeClipMovie();
  EXPECT_EQ(encodeChunkJobs(a.ran()), 5) << a.ran() << converted.out;
}

// A machine whose chunks come out otherwise than this one's (here another
// frame rate) makes the join refuse them, naming that machine.
TEST_F(ChunkHosts, ChunksEncodedOtherwiseElsewhereNameTheirMachine) {
  ASSERT_NO_FATAL_FAILURE(prepareSsh());
  if (IsSkipped())
    return;
  LoopbackHost odd(dir_ / "odd", keys_, program_, "s|rate=[0-9/]*|rate=25/1|");
  ASSERT_TRUE(odd.ready) << odd.log();
  writeFile(hostsFile_, login(odd.port));
  const auto refused = convertThroughHosts("--jobs 1");
  ASSERT_NE(odd.ran().find("--encode-chunk"), std::string::npos) << refused.out;
  EXPECT_NE(refused.status, 0);
  EXPECT_NE(refused.out.find(fmt::format("was encoded on ssh -F {} -p {} ", (keys_ / "ssh_config").string(), odd.port)),
            std::string::npos)
      << refused.out;
  EXPECT_FALSE(fs::exists(out_ / "clip120.mov"));
}

// A film cut at open GOPs that only edge264 starts decoding at: a machine
// without edge264 is named and left out before any work, and one with it
// encodes every chunk, each picture in its place.
TEST_F(ChunkHosts, OpenGopChunksGoOnlyToMachinesWithEdge264) {
  ASSERT_NO_FATAL_FAILURE(prepareSsh());
  if (IsSkipped())
    return;
  const fs::path film = openGopClip(*tools_, *clips_, true);
  clip_ = film / "clip.m2ts";
  program_ = installProgram(dir_ / "with", *tools_, Variant::dualSplitParallel, true);
  const fs::path without = installProgram(dir_ / "without", *tools_, Variant::dualSplitParallel, false);
  LoopbackHost lacking(dir_ / "lacking", keys_, without), able(dir_ / "able", keys_, program_);
  ASSERT_TRUE(lacking.ready && able.ready) << lacking.log() << able.log();
  writeFile(hostsFile_, login(lacking.port) + login(able.port));
  const auto converted =
      run(command(", \"chunkSeconds\": 0.5",
                  "--remote-only --hosts " + quote(hostsFile_.string()) + " --output " + quote(out_.string()), true) +
          " 2>&1");
  ASSERT_EQ(converted.status, 0) << converted.out;
  EXPECT_NE(converted.out.find(fmt::format("-p {} {}@127.0.0.1 has no edge264-pipe", lacking.port, user_)),
            std::string::npos)
      << converted.out;
  EXPECT_EQ(encodeChunkJobs(lacking.ran()), 0) << lacking.ran();
  EXPECT_EQ(encodeChunkJobs(able.ran()), 4) << able.ran() << converted.out;
  expectEveryPicture(out_ / "clip.mov", film, false, dir_.path());
}

// The cut-only run's commands, run here as a job array would run them on
// other machines; the same conversion again reuses every chunk.
TEST_F(ChunkHosts, CutOnlyListsCommandsWhoseChunksTheNextRunJoins) {
  ASSERT_NO_FATAL_FAILURE(cutRunCommandsAndJoin());
  EXPECT_GT(eyeQuality(out_ / "clip120.mov")[0].whole, 30.0);
}

// A side-by-side film's chunks, one piece each, leave the same ways.
class PackedChunkHosts : public ChunkHosts {
protected:
  const Target &target() const override { return kPacked; }
  void SetUp() override {
    ChunkHosts::SetUp();
    if (!IsSkipped())
      usePackedFilm();
  }
};

TEST_F(PackedChunkHosts, AnotherMachineEncodesEveryChunk) {
  ASSERT_NO_FATAL_FAILURE(prepareSsh());
  if (IsSkipped())
    return;
  LoopbackHost a(dir_ / "a", keys_, program_);
  ASSERT_TRUE(a.ready) << a.log();
  writeFile(hostsFile_, login(a.port));
  const auto converted = convertThroughHosts("--remote-only");
  ASSERT_EQ(converted.status, 0) << converted.out;
  expectWholeMovie();
  EXPECT_EQ(encodeChunkJobs(a.ran()), 5) << a.ran() << converted.out;
  EXPECT_TRUE(fs::is_empty(a.root / "home")) << "left behind on a host";
}

TEST_F(PackedChunkHosts, CutOnlyListsCommandsWhoseChunksTheNextRunJoins) {
  ASSERT_NO_FATAL_FAILURE(cutRunCommandsAndJoin());
  expectWholeMovie();
}

} // namespace
} // namespace kestrova::bluray::test
