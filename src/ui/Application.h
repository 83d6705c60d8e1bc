#pragma once

namespace kestrova::ui {

/// The windowed application: creates the model and the window, runs the
/// model's start-up sequence when the window first shows, and the event loop.
/// Returns the process' exit status.
int runApplication(int argc, char **argv);

} // namespace kestrova::ui
