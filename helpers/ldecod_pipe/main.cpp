/// ldecod-pipe [ldecod arguments ...]
///
/// Decodes a two-view H.264 MVC stream with the JM decoder and writes the
/// decoded pictures to standard output as pairs, each view-0 picture followed
/// by the view-1 picture of the same index, planar 8-bit 4:2:0 at the cropped
/// picture size: exactly what `yuv_hstack WIDTH HEIGHT` reads.
///
/// Arguments are ldecod's own: "-p Key=Value" pairs and the short forms
/// "-i FILE" / "-o FILE". The stream is "-p InputFile=FILE" (a file, a FIFO or
/// /dev/stdin); "-p DecodeAllLayers" is always set to 1; "-p OutputFile=NAME"
/// only says where the private folder goes. Every other argument reaches
/// ldecod unchanged.
///
/// `ldecod` is found like every tool of the program: the tools folder this
/// program sits in first, then the package folders, then `which`. When it is
/// missing, one line naming the JM decoder goes to standard error and the
/// exit status is 127.
///
/// Nothing decoded touches the disk: ldecod's input and its two view files
/// ("<name>_ViewId0000.yuv" and "<name>_ViewId0001.yuv", the names the JM
/// decoder derives from OutputFile) are named pipes in a private folder
/// ".ldecod-pipe-XXXXXX" beside OutputFile (the current folder by default;
/// in $XDG_RUNTIME_DIR, $TMPDIR or /tmp when that file system has no FIFOs),
/// removed on exit. ldecod runs inside that folder: it writes log.dec and
/// dataDec.txt into its current folder and fails when it cannot, so the
/// caller's folder may be read-only. The stream passes through this program on its way to
/// ldecod, which is where the picture size is read from its first sequence
/// parameter set.
///
/// Standard error: "ldecod-pipe: N frame pairs decoded" every 50 pairs and
/// once at the end; ldecod's own standard error unchanged; ldecod's report
/// lines from its standard output without the one-per-picture lines; and
/// "ldecod-pipe: ..." lines for problems.
///
/// Exit status: ldecod's own (128 + the signal when a signal ended it); 1 when
/// this program fails (unreadable stream, views out of step, no view-1
/// pictures at all); 2 for a wrong command line; 127 without ldecod. A closed
/// standard output ends ldecod (its process group, by id) and exits 0.
/// SIGTERM, SIGINT and SIGHUP end ldecod the same way and exit with
/// 128 + the signal. Ending ldecod is SIGTERM, then SIGKILL when it is still
/// running a second later.
#include "DecoderArguments.h"
#include "PipeFolder.h"
#include "ViewPairPump.h"
#include "tools/Process.h"
#include "tools/ToolLocator.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/signalfd.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace kestrova;

void say(const std::string &line) {
  std::string text = line + "\n";
  // One write per line, so that lines from the forwarding thread never interleave mid-line.
  [[maybe_unused]] ssize_t ignored = ::write(STDERR_FILENO, text.data(), text.size());
}

std::optional<std::string> findDecoder() {
  // Installed, this program sits in <prefix>/share/kestrova/tools, which is
  // where the main program's search starts (R + "/tools"); R is taken as
  // this folder's parent so that the search does not depend on <prefix>/bin.
  tools::BundlePaths paths = tools::BundlePaths::forRunningExecutable();
  const std::string suffix = "/share/kestrova/tools";
  if (paths.executableDir.ends_with(suffix)) {
    paths.resourcePath = paths.executableDir.substr(0, paths.executableDir.size() - std::string("/tools").size());
    paths.bundlePath = paths.executableDir.substr(0, paths.executableDir.size() - suffix.size());
  }
  return tools::ToolLocator(paths).findTool("ldecod");
}

// Passes a line of ldecod's standard-output report on to standard error,
// unless it is the line it prints for every picture (those begin with the
// picture number).
void forwardReportLine(std::string_view line) {
  if (!line.empty() && (line[0] < '0' || line[0] > '9'))
    say("ldecod: " + std::string(line));
}

// SIGTERM to the decoder's group; a decoder still running after a second
// (one that ignores SIGTERM) is killed, so this program never waits forever
// for it and never leaves it behind. `exited` becomes readable at its exit.
void stopDecoder(tools::Process &process, int exited) {
  process.signalGroup(SIGTERM);
  pollfd fd{exited, POLLIN, 0};
  int ready;
  while ((ready = ::poll(&fd, 1, 1000)) < 0 && errno == EINTR) {
  }
  if (ready == 0)
    process.signalGroup(SIGKILL);
}

int statusOf(const tools::ExitStatus &status) {
  return status.signalled ? 128 + status.terminationStatus : status.terminationStatus;
}

int report(const helpers::PumpResult &result, const tools::ExitStatus &status) {
  say("ldecod-pipe: " + std::to_string(result.pairs) + " frame pairs decoded");
  for (int view = 0; view < 2; ++view) {
    if (result.unpaired[view] > 0)
      say("ldecod-pipe: WARNING: " + std::to_string(result.unpaired[view]) + " picture(s) of view " +
          std::to_string(view) + " had no partner in view " + std::to_string(1 - view) + " and were dropped");
    if (result.trailingBytes[view] > 0)
      say("ldecod-pipe: WARNING: view " + std::to_string(view) + " ended inside a picture (" +
          std::to_string(result.trailingBytes[view]) + " bytes dropped)");
  }
  if (!status.success())
    return statusOf(status);
  if (result.pairs == 0 && result.unpaired[0] > 0) {
    say("ldecod-pipe: ERROR: ldecod wrote no view-1 pictures; the stream has no MVC view");
    return 1;
  }
  return 0;
}

// Runs `decoder` on the stream `arguments` name, its two views read from
// its output pipes and written as pairs; the exit status of the whole.
// Throws PumpError or LaunchError when it cannot.
int decodeThroughPump(const helpers::DecoderArguments &arguments, const std::string &decoder,
                      const sigset_t &stopSignals) {
  helpers::PipeFolder folder(arguments.outputFile);
  helpers::PumpEndpoints io = folder.openEndpoints(arguments.inputFile);
  kestrova::UniqueFd signals(::signalfd(-1, &stopSignals, SFD_CLOEXEC));
  int exitPipe[2];
  if (!signals.valid() || ::pipe2(exitPipe, O_CLOEXEC) != 0)
    throw helpers::PumpError("ldecod-pipe: cannot set up signal handling");
  kestrova::UniqueFd exitRead(exitPipe[0]), exitWrite(exitPipe[1]);
  io.signals = signals.get();
  io.decoderExited = exitRead.get();

  tools::ProcessLaunch launch;
  launch.executable = decoder;
  launch.arguments =
      helpers::decoderCommandLine(arguments, helpers::PipeFolder::kInputName, helpers::PipeFolder::kOutputName);
  launch.standardError = tools::StreamMode::inherit;
  launch.workingDirectory = folder.path();
  auto process = tools::Process::create(launch);
  process->startLines(forwardReportLine, {});
  tools::ExitStatus status;
  // Waiting happens on its own thread; its end wakes the pump through the pipe.
  std::jthread waiter([&] {
    status = process->wait();
    exitWrite.reset();
  });

  helpers::ViewPairPump pump(std::move(io), [](std::uint64_t pairs) {
    say("ldecod-pipe: " + std::to_string(pairs) + " frame pairs decoded");
  });
  helpers::PumpResult result;
  try {
    result = pump.run();
  } catch (...) {
    stopDecoder(*process, exitRead.get());
    throw;
  }
  if (result.end != helpers::PumpResult::End::decoded)
    stopDecoder(*process, exitRead.get());
  waiter.join();
  if (result.end == helpers::PumpResult::End::outputClosed)
    return 0;
  if (result.end == helpers::PumpResult::End::stopped)
    return 128 + result.signal;
  return report(result, status);
}

} // namespace

int main(int argc, char **argv) {
  std::signal(SIGPIPE, SIG_IGN);
  // Stop signals are read from a signalfd in the pump's loop; blocked here
  // before any thread exists, so that every thread inherits the mask.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  for (int sig : {SIGTERM, SIGINT, SIGHUP})
    sigaddset(&stopSignals, sig);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  auto arguments = helpers::parseDecoderArguments(std::vector<std::string>(argv + 1, argv + argc));
  if (!arguments) {
    say("usage: ldecod-pipe -p InputFile=STREAM [-p OutputFile=NAME.yuv] [other ldecod arguments]");
    return 2;
  }
  auto decoder = findDecoder();
  if (!decoder) {
    say("ldecod-pipe: ldecod (the JM H.264/MVC reference decoder) not found. Build it from the JM reference "
        "software or place it in the tools folder.");
    return 127;
  }
  try {
    return decodeThroughPump(*arguments, *decoder, stopSignals);
  } catch (const helpers::PumpError &error) {
    say(error.what());
  } catch (const tools::LaunchError &error) {
    say(std::string("ldecod-pipe: ") + error.what());
  }
  return 1;
}
