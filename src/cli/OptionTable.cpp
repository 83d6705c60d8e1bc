#include "cli/OptionTable.h"

#include "core/OutputOptions.h"

#include <array>

namespace kestrova::cli {

namespace {

constexpr int of(auto value) {
  return static_cast<int>(value);
}

constexpr std::array kTargets{
    Choice{"sbs", of(OutputTarget::sbs3D)},
    Choice{"vision-pro", of(OutputTarget::visionPro)},
};
constexpr std::array kQualities{
    Choice{"ultra-high", of(QualityPreset::ultraHigh)},
    Choice{"high", of(QualityPreset::high)},
    Choice{"balanced", of(QualityPreset::medium)},
    Choice{"smaller", of(QualityPreset::low)},
};
constexpr std::array kCodecs{
    Choice{"h264", of(OutputCodec::h264)},
    Choice{"hevc", of(OutputCodec::h265)},
};
constexpr std::array kLayouts{
    Choice{"auto", of(StereoLayout::automatic)},
    Choice{"full-sbs", of(StereoLayout::fullSideBySide)},
    Choice{"half-sbs", of(StereoLayout::halfSideBySide)},
    Choice{"full-tab", of(StereoLayout::fullTopAndBottom)},
    Choice{"half-tab", of(StereoLayout::halfTopAndBottom)},
    Choice{"frame-alternate", of(StereoLayout::frameAlternate)},
    Choice{"mvc", of(StereoLayout::mvc)},
};

constexpr std::array kOptions{
    OptionSpec{OptionKey::input,
               "--input",
               "",
               ValueKind::sourceFile,
               "FILE",
               {},
               "a source (.m2ts, .ts, .mkv, .mp4, .mov); may be repeated",
               "A source to convert. A relative path is taken from the current folder.\n"
               "Sources may also be given as plain arguments, and several of either\n"
               "are converted one after another as a batch."},
    OptionSpec{OptionKey::output,
               "--output",
               "",
               ValueKind::folder,
               "DIR",
               {},
               "the folder for the results (default: the videos folder + Kestrova Output)",
               "The folder that receives the results; it is created when missing.\n"
               "Default: the XDG videos folder (~/Videos unless ~/.config/user-dirs.dirs names another) + \"Kestrova "
               "Output\"."},
    OptionSpec{OptionKey::autoConvert,
               "--auto-convert",
               "",
               ValueKind::none,
               "",
               {},
               "convert without a window, printing timestamped progress",
               "Convert without a window: each source once, with timestamped log and\n"
               "progress lines on standard output.\n"
               "Without it the window opens with the sources queued."},
    OptionSpec{OptionKey::target, "--target", "", ValueKind::choice, "TARGET", kTargets,
               "what to make: a side-by-side file or MV-HEVC for Vision Pro",
               "What to make: a Full Side-by-Side 3D file, or MV-HEVC spatial video for\n"
               "Apple Vision Pro.\nDefault: the stored\n.BR outputTarget ."},
    OptionSpec{OptionKey::quality, "--quality", "", ValueKind::choice, "QUALITY", kQualities,
               "the encoder quality preset",
               "The encoder quality, from the largest file to the smallest.\nDefault: the stored\n"
               ".BR qualityPreset ."},
    OptionSpec{OptionKey::codec, "--codec", "", ValueKind::choice, "CODEC", kCodecs,
               "the video codec of the side-by-side file (default h264)",
               "The video codec of the side-by-side file (MV-HEVC is always HEVC).\nDefault: h264."},
    OptionSpec{OptionKey::keepSideBySide,
               "--keep-sbs",
               "",
               ValueKind::none,
               "",
               {},
               "for Vision Pro, keep the side-by-side file beside the MV-HEVC file",
               "For the Vision Pro target, also keep the Full Side-by-Side file made on\n"
               "the way (for a Blu-ray 3D source this is a second encode).\nDefault: the stored\n"
               ".BR keepSBSIntermediate ,\nelse only the MV-HEVC file is written."},
    OptionSpec{OptionKey::noKeepSideBySide,
               "--no-keep-sbs",
               "",
               ValueKind::none,
               "",
               {},
               "for Vision Pro, write only the MV-HEVC file",
               "For the Vision Pro target, write only the MV-HEVC file, whatever\n.B keepSBSIntermediate\nsays."},
    OptionSpec{OptionKey::layout, "--layout", "", ValueKind::choice, "LAYOUT", kLayouts,
               "how the eyes are laid out in the sources (default auto)",
               "How the two eyes are laid out in the sources:\ndetected\n(\\fBauto\\fR),\n"
               "full or half side by side, full or half top and bottom, frame alternate, or\n"
               "an H.264 MVC view.\nHalf-size eyes are scaled back to full size.\n"
               "A layout the source cannot be read as fails that source with a message\n"
               "saying so; nothing is converted as something else."},
    OptionSpec{OptionKey::swapEyes,
               "--swap-eyes",
               "",
               ValueKind::none,
               "",
               {},
               "the source's eyes are the other way round",
               "The source has the right eye where its layout says left (or top);\n"
               "honoured for every layout."},
    OptionSpec{OptionKey::playlist,
               "--playlist",
               "",
               ValueKind::number,
               "N",
               {},
               "for a Blu-ray disc, convert playlist N (00800.mpls is 800)",
               "For a Blu-ray disc source, convert the playlist numbered\n.I n\n"
               "(for\n.IR 00800.mpls ,\n800) instead of the disc's main 3D playlist."},
    OptionSpec{OptionKey::duration,
               "--duration",
               "",
               ValueKind::number,
               "SECONDS",
               {},
               "convert only the first SECONDS of each source",
               "Convert only the first\n.I seconds\nof each source.\n"
               "A value that is not a positive whole number is reported on standard error\n"
               "and the whole source is converted."},
    OptionSpec{OptionKey::overwrite,
               "--overwrite",
               "",
               ValueKind::none,
               "",
               {},
               "replace output files that exist instead of refusing",
               "Do not refuse when an output file exists; replace it."},
    OptionSpec{OptionKey::keepWork,
               "--keep-work",
               "",
               ValueKind::none,
               "",
               {},
               "after a failure, keep the large work files too",
               "After a failed conversion, keep the large work files (demuxed views,\n"
               "decoded pictures) in the work folder too, not only its log and small files."},
    OptionSpec{OptionKey::subtitles,
               "--subtitles",
               "",
               ValueKind::word,
               "LANG|N|none",
               {},
               "burn a Blu-ray subtitle track into both eyes, by language or number",
               "Burn one Blu-ray (PG) subtitle track into both eyes at the depth the disc\n"
               "gives it: the track with language code\n.I lang\n(eng, fra, ...), or track\n.I n\n"
               "counted from 1 among the source's subtitle tracks, or\n.B none .\n"
               "A name the source does not have stops the conversion with a list of its tracks;\n"
               "a source without subtitle tracks is converted as it is, and the log says so.\n"
               "Default: the first forced track when the source marks one, else none."},
    OptionSpec{OptionKey::subtitlePlane,
               "--subtitle-plane",
               "",
               ValueKind::number,
               "K",
               {},
               "the 3D offset sequence (0-31) the burned-in subtitles follow",
               "The offset sequence (3D plane, 0 to 31) of the source's 3D view whose depth the\n"
               "burned-in subtitles follow. Default: the one the disc's playlist names; a lone\n"
               ".I .m2ts\nor\n.I .mkv\ndoes not name one, so its n-th subtitle track takes sequence n-1."},
    OptionSpec{OptionKey::subtitleDepth,
               "--subtitle-depth",
               "",
               ValueKind::number,
               "PIXELS",
               {},
               "depth of subtitles the source gives none (default 4 in front)",
               "Where burned-in subtitles go when the source gives no usable depth (no offset\n"
               "metadata, no such sequence, a damaged table): each eye's copy moves by\n"
               ".I pixels\n(of a 1920-wide picture, scaled to the eye's width), positive in front\n"
               "of the screen, negative behind it, -128 to 127.\nDefault: the stored\n"
               ".BR subtitleDepth ,\nelse 4."},
    OptionSpec{OptionKey::jobs,
               "--jobs",
               "",
               ValueKind::number,
               "N",
               {},
               "encode N chunks of a film at once (to Vision Pro, or 3D to full side by side)",
               "Cut a film going to Vision Pro (Blu-ray 3D, side by side, top and bottom or\n"
               "frame alternate, without a side-by-side file beside it) or a Blu-ray 3D film\n"
               "going to a full side-by-side file into chunks of about a minute\n"
               "(setting chunkSeconds) and encode N of them at once (setting jobs). Without\n"
               "it, films longer than two chunks are chunked with as many jobs as the cores\n"
               "and the free memory (0.6 GiB a job) allow."},
    OptionSpec{OptionKey::noResume,
               "--no-resume",
               "",
               ValueKind::none,
               "",
               {},
               "encode every chunk again instead of reusing an earlier run's",
               "A chunked run reuses the finished chunks an interrupted run of the same\n"
               "conversion left in the output folder; this starts over instead."},
    OptionSpec{OptionKey::hosts,
               "--hosts",
               "",
               ValueKind::sourceFile,
               "FILE",
               {},
               "also encode chunks on the machines of a GNU parallel ssh login file",
               "Send the chunk jobs of a film (see --jobs) over ssh to the machines listed in\n"
               "FILE (GNU parallel's --sshloginfile format; setting hosts), which need the\n"
               "same Kestrova version (and edge264-pipe for chunks that only edge264 starts\n"
               "decoding). A film that is not cut into chunks is refused with it."},
    OptionSpec{OptionKey::remoteOnly,
               "--remote-only",
               "",
               ValueKind::none,
               "",
               {},
               "encode every chunk on the machines of --hosts, none on this one",
               "With\n.BR --hosts ,\nleave this machine out of the chunk encoding (setting remoteOnly):\n"
               "it still cuts the film, encodes the sound and joins the chunks. The run\n"
               "stops before any work when none of the listed machines can take part."},
    OptionSpec{OptionKey::encodeChunk,
               "--encode-chunk",
               "",
               ValueKind::sourceFile,
               "PIECE",
               {},
               "encode one chunk: PIECE MVC|- OUTPUT SETTINGS PAIRS [SUBTITLES], then exit",
               "Encode one chunk and exit: the chunk's piece PIECE (a Blu-ray 3D film's base\n"
               "view piece), then the MVC view piece (- for any other film), the chunk file\n"
               "to write, the picture settings line, the pair\n"
               "count and, when the run burns subtitles in, its burn-in line (the chunk's\n"
               "first frame in the film and the subtitle files), as a chunked run hands\n"
               "them to GNU parallel or another scheduler."},
    OptionSpec{OptionKey::cutOnly,
               "--cut-only",
               "",
               ValueKind::none,
               "",
               {},
               "cut into chunks and list their encode commands for another scheduler",
               "Cut a film into chunks (a Blu-ray 3D film going to Vision Pro, or to side by\n"
               "side without a Vision Pro file; a side-by-side, top-and-bottom or\n"
               "frame-alternate film going to Vision Pro alone), write the\n"
               ".B kestrova --encode-chunk\ncommand of each chunk, one a line, into the file\n"
               ".I commands\nof the chunk folder it names, and stop without encoding. Run those\n"
               "lines anywhere the folder can be reached at the same path (for example as\n"
               "a Slurm job array), then run the same conversion again: it finds the\n"
               "finished chunks and joins them."},
    OptionSpec{OptionKey::help,
               "--help",
               "-h",
               ValueKind::none,
               "",
               {},
               "print this help and exit",
               "Print a summary of the options and exit with status 0, before anything\n"
               "else and with or without a display."},
    OptionSpec{OptionKey::version,
               "--version",
               "",
               ValueKind::none,
               "",
               {},
               "print the version, build number and MVC decoders, and exit",
               "Print the version and build number, then the MVC decoders this installation\n"
               "has (a chunked run asks the machines of --hosts this), and exit with status\n"
               "0, before anything else and with or without a display."},
};

} // namespace

std::span<const OptionSpec> optionTable() {
  return kOptions;
}

const OptionSpec *findOption(std::string_view word) {
  for (const auto &option : kOptions)
    if (word == option.name || (!option.alias.empty() && word == option.alias))
      return &option;
  return nullptr;
}

} // namespace kestrova::cli
