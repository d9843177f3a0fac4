// Pictures of the configuration sheet's two pages, in English and in
// Japanese, of the about box and of the file-information box, as PNG files
// for the README. The host opens each window on a UI thread as Winamp does;
// the picture is taken from the screen, so this runs where Wine paints:
// scripts/screenshots starts it under Xvfb in a Wine virtual desktop.
//
//   tamboril_screenshots.exe OUTDIR en|ja [SONG]
//
// "en" takes both pages with the English templates and the about box; "ja"
// both pages with the Japanese templates (run it in a Japanese locale, so
// that the sheet's own buttons are Japanese too). With SONG, the information
// box of that song too, in the same language. Exits 0 when every picture was
// written.
#include <windows.h>
#include <commctrl.h>
#include <prsht.h>

#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include <zlib.h>

#include "tests/host/standin_host.h"
#include "tests/host/ui_thread.h"

namespace {

void PutBigEndian(std::vector<unsigned char>& out, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<unsigned char>(value >> shift));
}

void PutChunk(std::vector<unsigned char>& out, const char* type,
              const std::vector<unsigned char>& data) {
    PutBigEndian(out, static_cast<uint32_t>(data.size()));
    const size_t start = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
    const uLong crc = crc32(0, out.data() + start, static_cast<uInt>(out.size() - start));
    PutBigEndian(out, static_cast<uint32_t>(crc));
}

// An 8-bit RGB PNG of `rgb` (rows top to bottom, no padding).
bool WritePng(const std::string& path, int width, int height,
              const std::vector<unsigned char>& rgb) {
    std::vector<unsigned char> rows;
    rows.reserve(static_cast<size_t>(height) * (width * 3 + 1));
    for (int y = 0; y < height; ++y) {
        rows.push_back(0);  // no filter
        const unsigned char* row = rgb.data() + static_cast<size_t>(y) * width * 3;
        rows.insert(rows.end(), row, row + width * 3);
    }
    uLongf packedSize = compressBound(static_cast<uLong>(rows.size()));
    std::vector<unsigned char> packed(packedSize);
    if (compress2(packed.data(), &packedSize, rows.data(), static_cast<uLong>(rows.size()), 9) !=
        Z_OK) {
        return false;
    }
    packed.resize(packedSize);

    std::vector<unsigned char> header;
    PutBigEndian(header, static_cast<uint32_t>(width));
    PutBigEndian(header, static_cast<uint32_t>(height));
    header.insert(header.end(),
                  {8, 2, 0, 0, 0});  // 8 bits, RGB, deflate, no filter kinds, no interlace
    std::vector<unsigned char> file = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    PutChunk(file, "IHDR", header);
    PutChunk(file, "IDAT", packed);
    PutChunk(file, "IEND", {});

    FILE* out = std::fopen(path.c_str(), "wb");
    if (out == nullptr) return false;
    const bool written = std::fwrite(file.data(), 1, file.size(), out) == file.size();
    return std::fclose(out) == 0 && written;
}

// Copies what the screen shows of `window`, its frame included, once it has
// been painted.
bool Capture(HWND window, const std::string& path) {
    SetWindowPos(window, HWND_TOP, 16, 16, 0, 0, SWP_NOSIZE | SWP_SHOWWINDOW);
    RedrawWindow(window, nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN);
    Sleep(700);
    RECT rect;
    GetWindowRect(window, &rect);
    const int width = rect.right - rect.left;
    const int height = rect.bottom - rect.top;
    if (width <= 0 || height <= 0) return false;

    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top row first
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    bool copied = false;
    std::vector<unsigned char> rgb;
    if (bitmap != nullptr) {
        HGDIOBJ old = SelectObject(memory, bitmap);
        copied = BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY) != 0;
        GdiFlush();
        const unsigned char* bgrx = static_cast<const unsigned char*>(bits);
        rgb.reserve(static_cast<size_t>(width) * height * 3);
        for (int i = 0; i < width * height; ++i) {
            rgb.push_back(bgrx[4 * i + 2]);
            rgb.push_back(bgrx[4 * i + 1]);
            rgb.push_back(bgrx[4 * i]);
        }
        SelectObject(memory, old);
        DeleteObject(bitmap);
    }
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    if (!copied) return false;
    // A window that was not painted comes out in one or two colours.
    std::set<uint32_t> colours;
    for (size_t i = 0; i + 2 < rgb.size() && colours.size() < 8; i += 3) {
        colours.insert(static_cast<uint32_t>(rgb[i] << 16 | rgb[i + 1] << 8 | rgb[i + 2]));
    }
    if (colours.size() < 8) {
        std::fprintf(stderr, "tamboril_screenshots: %s would be blank\n", path.c_str());
        return false;
    }
    const bool written = WritePng(path, width, height, rgb);
    std::printf("%s %s (%dx%d)\n", written ? "wrote" : "could not write", path.c_str(), width,
                height);
    return written;
}

bool ShootSheet(const std::string& folder, bool japanese) {
    uitest::UiThread ui("Tamboril setting", japanese, [] { standin::Plugin().Config(nullptr); });
    HWND sheet = ui.Window();
    if (sheet == nullptr) return false;
    const char* language = japanese ? "ja" : "en";
    bool ok = true;
    const char* pages[] = {"main", "mixer"};
    for (int page = 0; page < 2; ++page) {
        SendMessageA(sheet, PSM_SETCURSEL, page, 0);
        ok = Capture(sheet, folder + "/config-" + pages[page] + "-" + language + ".png") && ok;
    }
    SendMessageA(sheet, PSM_PRESSBUTTON, PSBTN_CANCEL, 0);
    PostMessageA(sheet, WM_NULL, 0, 0);
    ui.Join();
    return ok;
}

bool ShootAbout(const std::string& folder) {
    uitest::UiThread ui(standin::Plugin().description, false,
                        [] { standin::Plugin().About(nullptr); });
    HWND box = ui.Window();
    if (box == nullptr) return false;
    const bool ok = Capture(box, folder + "/about.png");
    PostMessageA(box, WM_COMMAND, IDOK, 0);
    ui.Join();
    return ok;
}

// The information box's caption as the 8-bit window text reads it.
std::string InfoCaption(bool japanese) {
    char caption[64] = "";
    WideCharToMultiByte(CP_ACP, 0, japanese ? L"\u66f2\u306e\u60c5\u5831" : L"Song information", -1,
                        caption, sizeof caption, nullptr, nullptr);
    return caption;
}

std::string infoSong;

bool ShootInfo(const std::string& folder, bool japanese) {
    const std::string caption = InfoCaption(japanese);
    uitest::UiThread ui(caption.c_str(), japanese,
                        [] { standin::Plugin().InfoBox(infoSong.c_str(), standin::MainWindow()); });
    HWND box = ui.Window();
    if (box == nullptr) return false;
    const bool ok = Capture(box, folder + "/info-" + (japanese ? "ja" : "en") + ".png");
    PostMessageA(box, WM_COMMAND, IDOK, 0);
    ui.Join();
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string language = argc == 3 || argc == 4 ? argv[2] : "";
    if (language != "en" && language != "ja") {
        std::fprintf(stderr, "usage: tamboril_screenshots OUTDIR en|ja [SONG]\n");
        return 2;
    }
    const std::string folder = argv[1];
    InitCommonControls();
    if (!standin::Load(nullptr)) {
        std::fprintf(stderr, "tamboril_screenshots: the plug-in did not load\n");
        return 1;
    }
    bool ok = ShootSheet(folder, language == "ja");
    if (language == "en") ok = ShootAbout(folder) && ok;
    if (argc == 4) {
        infoSong = argv[3];
        ok = ShootInfo(folder, language == "ja") && ok;
    }
    standin::Unload();
    return ok ? 0 : 1;
}
