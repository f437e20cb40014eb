// The font a label of the progress window is drawn in. The window's own
// font ("돋움" 9 pt, Hangul character set) is used whenever the system has
// it. Where it does not, the system's font mapper hands back some other face
// of that character set, and that face may lack glyphs for the very text it
// is asked to draw: Wine, for one, maps the request to "Droid Sans Fallback",
// which claims the Korean code page but has neither Latin letters nor Hangul
// syllables, so every character is drawn as an empty box. So each text is
// checked against the face actually handed back, and the first face that has
// a glyph for every character is used: the window's font, "Malgun Gothic",
// "Gulim", the system's GUI font, then any other face the system lists for
// the Hangul character set. When none has them all, the GUI font is used.
// A face whose lines are taller than the window's font (Malgun Gothic's are
// by a third) may not fit the label's box at the design size: it is then
// drawn at the largest smaller size at which every line shows.
#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "platform/win32/win32_windows.h"
#include "progress/splash_layout.h"

namespace mb::win32 {

class LabelFonts {
 public:
  // `pixels_per_inch` sizes the fonts (the design's points on this screen).
  LabelFonts(const splash::Font& design, int pixels_per_inch);
  ~LabelFonts();
  LabelFonts(const LabelFonts&) = delete;
  LabelFonts& operator=(const LabelFonts&) = delete;

  // The font to draw `text` in, word-wrapped in a box of `width` x `height`
  // pixels; owned by this object.
  HFONT For(const std::wstring& text, int width, int height);

  // The face name the system actually selected for `font`.
  static std::wstring SelectedFace(HFONT font);
  // True when the face selected for `font` has a glyph for every character
  // of `text` that is drawn (line breaks and other control characters are
  // not).
  static bool HasGlyphsFor(HFONT font, const std::wstring& text);

 private:
  struct Candidate {
    std::wstring face;
    int charset;
    HFONT font = nullptr;  // made on first use
  };
  static constexpr std::size_t kNone = static_cast<std::size_t>(-1);
  HFONT FontOf(Candidate& c);
  std::size_t FirstWithGlyphs(const std::wstring& text, std::size_t from);
  HFONT SizedFont(std::size_t index, int cell_height);
  HFONT Fitted(std::size_t index, const std::wstring& text, int width, int height);
  void AddSystemHangulFaces();

  int height_;    // the design size: em height in pixels, negative
  int min_cell_;  // the smallest line height a label is shrunk to
  int weight_;
  std::vector<Candidate> chain_;
  std::map<std::pair<std::size_t, int>, HFONT> sized_;  // (candidate, line height)
  std::size_t gui_ = 0;                                 // index of the GUI font in chain_
  bool listed_system_faces_ = false;
};

}  // namespace mb::win32
