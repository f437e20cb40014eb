// The progress window's designed layout: the window size and the table of
// its controls with their positions, sizes, colours and fonts. All measures
// are twips, positions relative to the parent control. Both the portable
// model (frmSplash) and the Win32 view read this table; the terminal view
// needs none of it.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace mb::splash {

struct Rgb {
  std::uint8_t r = 0, g = 0, b = 0;
  // The window system's colour value, 0x00BBGGRR.
  constexpr std::uint32_t Bgr() const {
    return std::uint32_t{r} | (std::uint32_t{g} << 8) | (std::uint32_t{b} << 16);
  }
};

struct Font {
  std::string_view face;  // UTF-8
  int points = 0;
  int weight = 0;   // 400 = normal
  int charset = 0;  // 129 = Hangul
};

enum class Kind { kWindow, kPictureBox, kImageList, kLine, kLabel };

enum class ControlId {
  kWindow,
  kPicture1,
  kImageList1,
  kPicture2,
  kLine1,
  kLblTitle,
  kPicture3,
  kLblCurrent,
};

struct Control {
  ControlId id;
  std::string_view name;
  Kind kind;
  ControlId parent;  // the window is its own parent
  // For a line: the start point (left, top) and its extent to the end point.
  std::int32_t left, top, width, height;
  bool visible;
  bool transparent;  // labels draw on their parent's background
  Rgb back;
  Rgb fore;
  Font font;
};

inline constexpr Rgb kPanelBlue{2, 132, 229};
inline constexpr Rgb kSeparatorGrey{192, 192, 192};
inline constexpr Rgb kWhite{255, 255, 255};
inline constexpr Rgb kBlack{0, 0, 0};
inline constexpr Font kDotum{"돋움", 9, 400, 129};
inline constexpr Font kNoFont{};

// The inner (client) area is 5025 x 5685 with a 60-twip frame at the left
// and top, so the window's outer size - the Width and Height that the
// placement uses - is 5085 x 5745.
inline constexpr std::int32_t kClientWidth = 5025;
inline constexpr std::int32_t kClientHeight = 5685;
inline constexpr std::int32_t kFrame = 60;
inline constexpr std::int32_t kWindowWidth = kClientWidth + kFrame;
inline constexpr std::int32_t kWindowHeight = kClientHeight + kFrame;

// ImageList1: three title pictures counted from 1 (1 the designed picture,
// 2 Korean, 3 English), each 332 x 212 pixels, mask colour 192,192,192.
inline constexpr int kImageCount = 3;
inline constexpr int kImageDesigned = 1;
inline constexpr int kImageKorean = 2;
inline constexpr int kImageEnglish = 3;
inline constexpr int kImageWidthPx = 332;
inline constexpr int kImageHeightPx = 212;
inline constexpr Rgb kImageMask{192, 192, 192};
// Resource / file base names of the images, by index - 1 (".bmp", ".png").
inline constexpr std::array<std::string_view, kImageCount> kImageNames{
    "title_design", "title_ko", "title_en"};

// The progress bar: painted on Picture3, the status panel, behind the
// status line, in this colour (red 87, green 132, blue 72).
inline constexpr std::uint32_t kBarColor = 0x00488457;
inline constexpr ControlId kProgressSurface = ControlId::kPicture3;

inline constexpr std::array<Control, 8> kControls{{
    {ControlId::kWindow, "frmSplash", Kind::kWindow, ControlId::kWindow, 0, 0,
     kWindowWidth, kWindowHeight, true, false, kBlack, kBlack, kNoFont},
    {ControlId::kPicture1, "Picture1", Kind::kPictureBox, ControlId::kWindow,
     0, 0, 5040, 5685, true, false, kWhite, kBlack, kNoFont},
    {ControlId::kImageList1, "ImageList1", Kind::kImageList,
     ControlId::kPicture1, 0, 0, 0, 0, false, false, kImageMask, kBlack,
     kNoFont},
    {ControlId::kPicture2, "Picture2", Kind::kPictureBox, ControlId::kPicture1,
     0, 3120, 5040, 2520, true, false, kPanelBlue, kBlack, kNoFont},
    {ControlId::kLine1, "Line1", Kind::kLine, ControlId::kPicture2, 120, 120,
     4800, 0, true, false, kSeparatorGrey, kSeparatorGrey, kNoFont},
    {ControlId::kLblTitle, "lblTitle", Kind::kLabel, ControlId::kPicture2, 240,
     240, 4575, 1215, true, true, kPanelBlue, kWhite, kDotum},
    {ControlId::kPicture3, "Picture3", Kind::kPictureBox, ControlId::kPicture2,
     240, 1440, 4575, 975, true, false, kPanelBlue, kBlack, kNoFont},
    {ControlId::kLblCurrent, "lblCurrent", Kind::kLabel, ControlId::kPicture3,
     120, 120, 4215, 735, true, true, kPanelBlue, kWhite, kDotum},
}};

constexpr const Control& ControlOf(ControlId id) {
  for (const Control& c : kControls) {
    if (c.id == id) return c;
  }
  return kControls[0];
}

// A control's position relative to the window's client area (sum of the
// parents' offsets).
struct Point {
  std::int32_t x = 0, y = 0;
};
constexpr Point ClientOrigin(ControlId id) {
  Point p{};
  while (id != ControlId::kWindow) {
    const Control& c = ControlOf(id);
    p.x += c.left;
    p.y += c.top;
    id = c.parent;
  }
  return p;
}

// The progress surface's scale size: the status panel has no border, so
// its inner drawing area is its full size.
inline constexpr std::int32_t kSurfaceWidth = ControlOf(kProgressSurface).width;
inline constexpr std::int32_t kSurfaceHeight = ControlOf(kProgressSurface).height;

}  // namespace mb::splash
