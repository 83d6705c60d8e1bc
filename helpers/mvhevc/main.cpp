// MVHEVCConverter INPUT OUTPUT QUALITY [CAP] [options]: side-by-side video, or decoded view pairs on
// standard input (INPUT -), in; MV-HEVC spatial video out.
#include "ChunkJoiner.h"
#include "Converter.h"

#include <csignal>
#include <cstdlib>
#include <iostream>
#include <pthread.h>
#include <stop_token>
#include <thread>

namespace {

// Signals are taken by one thread with sigwait, so no handler touches shared state.
sigset_t stopSignals() {
  sigset_t set;
  sigemptyset(&set);
  for (const int signal : {SIGTERM, SIGINT, SIGHUP, SIGUSR1}) {
    sigaddset(&set, signal);
  }
  return set;
}

} // namespace

int main(int argc, char **argv) {
  using namespace kestrova::mvhevc;
  std::signal(SIGPIPE, SIG_IGN);
  ConversionRequest request;
  try {
    request = parseArguments(argc, argv);
  } catch (const std::invalid_argument &error) {
    std::cerr << "MVHEVCConverter: " << error.what() << '\n';
    return 2;
  }
  if (const char *preset = std::getenv("KESTROVA_MVHEVC_PRESET"); preset != nullptr && *preset != '\0') {
    request.preset = preset;
  }
  if (const char *dump = std::getenv("KESTROVA_MVHEVC_DUMP"); dump != nullptr) {
    request.dumpPrefix = dump;
  }

  const auto signals = stopSignals();
  pthread_sigmask(SIG_BLOCK, &signals, nullptr); // every thread started later inherits this
  std::stop_source stop;
  int received = 0;
  std::thread watcher([&] {
    int signal = 0;
    sigwait(&signals, &signal);
    if (signal != SIGUSR1) {
      received = signal;
      stop.request_stop();
    }
  });

  std::cout << "MVHEVCConverter: " << encoderDescription() << '\n' << std::flush;
  int status = 0;
  try {
    if (request.join) {
      joinChunks({request.chunks, request.output, request.audio, request.chapters, request.stereo}, std::cerr,
                 stop.get_token());
    } else {
      convert(request, std::cout, std::cerr, stop.get_token());
    }
    std::cout << "Done: " << request.output << '\n';
  } catch (const Cancelled &) {
    std::cerr << "MVHEVCConverter: cancelled; no output written\n";
    status = 1;
  } catch (const std::exception &error) {
    std::cerr << "MVHEVCConverter: error: " << error.what() << '\n';
    status = 1;
  }
  if (!stop.stop_requested()) {
    pthread_kill(watcher.native_handle(), SIGUSR1);
  }
  watcher.join();
  if (received != 0) {
    return 128 + received;
  }
  return status;
}
