#include "platform/win32/win32_label_font.h"

#include <algorithm>

#include "platform/win32/win32_text.h"

namespace mb::win32 {
namespace {

// The faces every Windows since Vista (Malgun Gothic) or with Korean support
// (Gulim) has for Hangul, in the order they are tried after the window's own.
constexpr const wchar_t* kHangulFaces[] = {L"Malgun Gothic", L"Gulim"};

// A screen DC with `font` selected, for as long as the object lives.
class ScreenDcWithFont {
 public:
  explicit ScreenDcWithFont(HFONT font) : dc_(GetDC(nullptr)) {
    if (dc_ != nullptr) old_ = SelectObject(dc_, font);
  }
  ~ScreenDcWithFont() {
    if (dc_ == nullptr) return;
    SelectObject(dc_, old_);
    ReleaseDC(nullptr, dc_);
  }
  ScreenDcWithFont(const ScreenDcWithFont&) = delete;
  ScreenDcWithFont& operator=(const ScreenDcWithFont&) = delete;
  HDC get() const { return dc_; }

 private:
  HDC dc_;
  HGDIOBJ old_ = nullptr;
};

std::wstring DrawnCharacters(const std::wstring& text) {
  std::wstring drawn;
  for (wchar_t c : text) {
    if (c >= L' ') drawn.push_back(c);
  }
  return drawn;
}

LOGFONTW GuiLogFont() {
  LOGFONTW lf{};
  GetObjectW(GetStockObject(DEFAULT_GUI_FONT), sizeof lf, &lf);
  return lf;
}

// Sans-serif faces first, fixed-pitch faces (coding fonts) never.
struct ListedFace {
  std::wstring face;
  bool sans;
};

int CALLBACK CollectFace(const LOGFONTW* lf, const TEXTMETRICW*, DWORD, LPARAM param) {
  auto* faces = reinterpret_cast<std::vector<ListedFace>*>(param);
  const std::wstring face = lf->lfFaceName;
  const bool vertical = !face.empty() && face.front() == L'@';
  const bool fixed = (lf->lfPitchAndFamily & 0x3) == FIXED_PITCH;
  const bool known = std::any_of(faces->begin(), faces->end(),
                                 [&](const ListedFace& f) { return f.face == face; });
  if (!face.empty() && !vertical && !fixed && !known) {
    faces->push_back({face, (lf->lfPitchAndFamily & 0xF0) == FF_SWISS});
  }
  return 1;
}

// A negative height asks for the em (the design's points); a positive one
// for the whole line, as a shrunk label needs.
HFONT MakeFont(const std::wstring& face, int charset, int height, int weight) {
  return CreateFontW(height, 0, 0, 0, weight, FALSE, FALSE, FALSE, static_cast<DWORD>(charset),
                     OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                     DEFAULT_PITCH | FF_DONTCARE, face.c_str());
}

// Pixels from one line's top to the next one's, as DrawTextW sets lines.
int LineHeight(HFONT font) {
  ScreenDcWithFont dc(font);
  TEXTMETRICW tm{};
  if (dc.get() == nullptr || !GetTextMetricsW(dc.get(), &tm)) return 0;
  return tm.tmHeight;
}

bool Fits(HFONT font, const std::wstring& text, int width, int height) {
  ScreenDcWithFont dc(font);
  if (dc.get() == nullptr) return true;
  RECT r{0, 0, width, 0};
  DrawTextW(dc.get(), text.c_str(), static_cast<int>(text.size()), &r,
            DT_CALCRECT | DT_LEFT | DT_TOP | DT_WORDBREAK | DT_NOPREFIX);
  return r.right <= width && r.bottom <= height;
}

std::vector<std::wstring> SystemFacesOf(BYTE charset) {
  std::vector<ListedFace> faces;
  HDC dc = GetDC(nullptr);
  if (dc == nullptr) return {};
  LOGFONTW want{};
  want.lfCharSet = charset;
  EnumFontFamiliesExW(dc, &want, CollectFace, reinterpret_cast<LPARAM>(&faces), 0);
  ReleaseDC(nullptr, dc);
  std::stable_partition(faces.begin(), faces.end(), [](const ListedFace& f) { return f.sans; });
  std::vector<std::wstring> names;
  for (const ListedFace& f : faces) names.push_back(f.face);
  return names;
}

}  // namespace

LabelFonts::LabelFonts(const splash::Font& design, int pixels_per_inch)
    : height_(-MulDiv(design.points, pixels_per_inch, 72)),
      min_cell_(MulDiv(-height_, 2, 3)),
      weight_(design.weight) {
  chain_.push_back({Utf8ToWide(std::string(design.face)), design.charset});
  for (const wchar_t* face : kHangulFaces) chain_.push_back({face, HANGEUL_CHARSET});
  const LOGFONTW gui = GuiLogFont();
  gui_ = chain_.size();
  chain_.push_back({gui.lfFaceName, gui.lfCharSet});
}

LabelFonts::~LabelFonts() {
  for (Candidate& c : chain_) {
    if (c.font != nullptr) DeleteObject(c.font);
  }
  for (auto& [key, font] : sized_) {
    if (font != nullptr) DeleteObject(font);
  }
}

HFONT LabelFonts::FontOf(Candidate& c) {
  if (c.font == nullptr) c.font = MakeFont(c.face, c.charset, height_, weight_);
  return c.font;
}

HFONT LabelFonts::SizedFont(std::size_t index, int cell_height) {
  HFONT& font = sized_[{index, cell_height}];
  if (font == nullptr) {
    font = MakeFont(chain_[index].face, chain_[index].charset, cell_height, weight_);
  }
  return font;
}

HFONT LabelFonts::Fitted(std::size_t index, const std::wstring& text, int width, int height) {
  HFONT font = FontOf(chain_[index]);
  if (font == nullptr || Fits(font, text, width, height)) return font;
  for (int cell = LineHeight(font) - 1; cell > min_cell_; --cell) {
    HFONT smaller = SizedFont(index, cell);
    if (smaller != nullptr && Fits(smaller, text, width, height)) return smaller;
  }
  HFONT smallest = SizedFont(index, min_cell_);
  return smallest != nullptr ? smallest : font;
}

void LabelFonts::AddSystemHangulFaces() {
  if (listed_system_faces_) return;
  listed_system_faces_ = true;
  for (const std::wstring& face : SystemFacesOf(HANGEUL_CHARSET)) {
    const bool tried = std::any_of(chain_.begin(), chain_.end(),
                                   [&](const Candidate& c) { return c.face == face; });
    if (!tried) chain_.push_back({face, HANGEUL_CHARSET});
  }
}

std::size_t LabelFonts::FirstWithGlyphs(const std::wstring& text, std::size_t from) {
  for (std::size_t i = from; i < chain_.size(); ++i) {
    HFONT font = FontOf(chain_[i]);
    if (font != nullptr && HasGlyphsFor(font, text)) return i;
  }
  return kNone;
}

// The system's other Hangul faces are listed only when the named ones fail.
HFONT LabelFonts::For(const std::wstring& text, int width, int height) {
  std::size_t found = FirstWithGlyphs(text, 0);
  if (found == kNone) {
    AddSystemHangulFaces();
    found = FirstWithGlyphs(text, gui_ + 1);
  }
  return Fitted(found == kNone ? gui_ : found, text, width, height);
}

std::wstring LabelFonts::SelectedFace(HFONT font) {
  ScreenDcWithFont dc(font);
  wchar_t face[LF_FACESIZE] = {};
  if (dc.get() == nullptr || GetTextFaceW(dc.get(), LF_FACESIZE, face) == 0) return {};
  return face;
}

// A font whose glyphs cannot be asked for (GetGlyphIndicesW fails, as for
// some raster fonts) is taken at its word.
bool LabelFonts::HasGlyphsFor(HFONT font, const std::wstring& text) {
  const std::wstring drawn = DrawnCharacters(text);
  if (drawn.empty()) return true;
  ScreenDcWithFont dc(font);
  if (dc.get() == nullptr) return true;
  std::vector<WORD> glyphs(drawn.size());
  const DWORD got = GetGlyphIndicesW(dc.get(), drawn.c_str(), static_cast<int>(drawn.size()),
                                     glyphs.data(), GGI_MARK_NONEXISTING_GLYPHS);
  if (got == GDI_ERROR) return true;
  return std::none_of(glyphs.begin(), glyphs.begin() + got, [](WORD g) { return g == 0xFFFF; });
}

}  // namespace mb::win32
