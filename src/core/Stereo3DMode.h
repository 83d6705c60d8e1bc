#pragma once

#include <string>

namespace kestrova {

/// How the two eyes are carried in a source, and in which order. Packed
/// frames (side by side, top and bottom) also say whether each eye fills its
/// half at full size or is squeezed to half its width (side by side) or half
/// its height (top and bottom).
class Stereo3DMode {
public:
  enum class Kind { mvcSingleTrack, mvcSeparateTracks, frameAlternate, sideBySide, topAndBottom, none };
  /// The size of one eye inside a packed frame.
  enum class EyeSize { full, half };

  static Stereo3DMode mvcSingleTrack(bool rightFirst) { return {Kind::mvcSingleTrack, rightFirst}; }
  static Stereo3DMode mvcSeparateTracks(bool rightFirst = false) { return {Kind::mvcSeparateTracks, rightFirst}; }
  static Stereo3DMode frameAlternate(bool rightFirst) { return {Kind::frameAlternate, rightFirst}; }
  static Stereo3DMode sideBySide(EyeSize size = EyeSize::full, bool rightFirst = false) {
    return {Kind::sideBySide, rightFirst, size};
  }
  static Stereo3DMode topAndBottom(EyeSize size = EyeSize::full, bool rightFirst = false) {
    return {Kind::topAndBottom, rightFirst, size};
  }
  static Stereo3DMode none() { return {Kind::none, false}; }

  Kind kind() const { return kind_; }
  /// The right eye comes first: the first MVC view, the first of two
  /// pictures, the left or top half of a packed frame.
  bool rightFirst() const { return rightFirst_; }
  /// True for side by side and top and bottom.
  bool isPacked() const { return kind_ == Kind::sideBySide || kind_ == Kind::topAndBottom; }
  /// The eye size of a packed frame; full for every other kind.
  EyeSize eyeSize() const { return size_; }
  /// The same layout with the other eye first.
  Stereo3DMode swapped() const { return {kind_, !rightFirst_, size_}; }

  /// The textual form: the case name, with the data for the kinds that carry
  /// it, e.g. "mvcSingleTrack(rightFirst: true)", "sideBySide",
  /// "halfTopAndBottom(rightFirst: true)".
  std::string text() const;

  friend bool operator==(const Stereo3DMode &a, const Stereo3DMode &b) {
    return a.kind_ == b.kind_ && a.rightFirst_ == b.rightFirst_ && a.size_ == b.size_;
  }

private:
  Stereo3DMode(Kind kind, bool rightFirst, EyeSize size = EyeSize::full)
      : kind_(kind), rightFirst_(rightFirst), size_(size) {}
  Kind kind_;
  bool rightFirst_;
  EyeSize size_;
};

} // namespace kestrova
