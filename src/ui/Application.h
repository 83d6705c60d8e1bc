#pragma once

#include <QSize>

#include <filesystem>
#include <optional>
#include <vector>

namespace kestrova::ui {

/// The window's size on its first start, for a screen whose free area is
/// `available`: the preferred size, shrunk to fit.
QSize firstSize(QSize available);

/// The windowed application: creates the model and the window, runs the
/// model's start-up sequence when the window first shows (queueing `files`,
/// output into `outputDirectory` when given), and the event loop. Returns the
/// process' exit status.
int runApplication(int argc, char **argv, std::vector<std::filesystem::path> files,
                   std::optional<std::filesystem::path> outputDirectory);

} // namespace kestrova::ui
