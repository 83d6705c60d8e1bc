#pragma once

#include <QSize>

namespace kestrova::ui {

/// The window's size on its first start, for a screen whose free area is
/// `available`: the preferred size, shrunk to fit.
QSize firstSize(QSize available);

/// The windowed application: creates the model and the window, runs the
/// model's start-up sequence when the window first shows, and the event loop.
/// Returns the process' exit status.
int runApplication(int argc, char **argv);

} // namespace kestrova::ui
