// The two dialog templates and the other resources as they are linked into the program:
// parsed from the module's own resources, compared with the tables they were made from.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "res/resource.h"

namespace {

struct CItem {
  int id;
  std::string cls;  // class name, or the predefined class of an ordinal
  std::string text;
  DWORD style;
  DWORD exStyle;
  short x, y, cx, cy;
};

struct CTemplate {
  bool extended = false;
  DWORD style = 0;
  DWORD exStyle = 0;
  short x = 0, y = 0, cx = 0, cy = 0;
  std::string title;
  WORD pointSize = 0;
  std::string font;
  std::vector<CItem> items;
};

// Reads the template's variable-length fields; every read is checked against the resource's
// size so a broken resource fails the test instead of reading past it.
class CReader {
 public:
  CReader(const BYTE* p, DWORD size) : m_p(p), m_size(size) {}
  bool Ok() const { return m_ok; }
  template <class T>
  T Get() {
    T v{};
    if (m_pos + sizeof(T) > m_size) {
      m_ok = false;
      return v;
    }
    memcpy(&v, m_p + m_pos, sizeof(T));
    m_pos += sizeof(T);
    return v;
  }
  std::string String() {
    std::string s;
    for (;;) {
      WORD c = Get<WORD>();
      if (!m_ok || c == 0) return s;
      s += static_cast<char>(c < 0x80 ? c : '?');
    }
  }
  // A name or an ordinal (0xFFFF then the value, shown as "#value").
  std::string NameOrOrdinal() {
    WORD first = Get<WORD>();
    if (first == 0) return std::string();
    if (first == 0xFFFF) return "#" + std::to_string(Get<WORD>());
    m_pos -= sizeof(WORD);
    return String();
  }
  void AlignDword() { m_pos = (m_pos + 3) & ~static_cast<size_t>(3); }
  void Skip(size_t n) { m_pos += n; }

 private:
  const BYTE* m_p;
  DWORD m_size;
  size_t m_pos = 0;
  bool m_ok = true;
};

std::string ClassName(const std::string& cls) {
  if (cls == "#128") return "Button";
  if (cls == "#129") return "Edit";
  if (cls == "#130") return "Static";
  return cls;
}

bool LoadTemplate(int id, CTemplate* t) {
  HRSRC hRes = FindResourceA(nullptr, MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(5) /* RT_DIALOG */);
  if (!hRes) return false;
  HGLOBAL hData = LoadResource(nullptr, hRes);
  const BYTE* p = static_cast<const BYTE*>(LockResource(hData));
  CReader r(p, SizeofResource(nullptr, hRes));
  WORD count = 0;
  if (r.Get<WORD>() == 1 && r.Get<WORD>() == 0xFFFF) {
    t->extended = true;
    r.Get<DWORD>();  // help id
    t->exStyle = r.Get<DWORD>();
    t->style = r.Get<DWORD>();
  } else {
    CReader plain(p, SizeofResource(nullptr, hRes));
    r = plain;
    t->style = r.Get<DWORD>();
    t->exStyle = r.Get<DWORD>();
  }
  count = r.Get<WORD>();
  t->x = r.Get<short>();
  t->y = r.Get<short>();
  t->cx = r.Get<short>();
  t->cy = r.Get<short>();
  r.NameOrOrdinal();  // menu
  r.NameOrOrdinal();  // class
  t->title = r.String();
  if (t->style & DS_SETFONT) {
    t->pointSize = r.Get<WORD>();
    if (t->extended) {
      r.Get<WORD>();  // weight
      r.Get<BYTE>();  // italic
      r.Get<BYTE>();  // charset
    }
    t->font = r.String();
  }
  for (WORD i = 0; i < count && r.Ok(); ++i) {
    r.AlignDword();
    CItem item{};
    if (t->extended) {
      r.Get<DWORD>();  // help id
      item.exStyle = r.Get<DWORD>();
      item.style = r.Get<DWORD>();
    } else {
      item.style = r.Get<DWORD>();
      item.exStyle = r.Get<DWORD>();
    }
    item.x = r.Get<short>();
    item.y = r.Get<short>();
    item.cx = r.Get<short>();
    item.cy = r.Get<short>();
    item.id = t->extended ? static_cast<int>(r.Get<DWORD>()) : static_cast<short>(r.Get<WORD>());
    item.cls = ClassName(r.NameOrOrdinal());
    item.text = r.NameOrOrdinal();
    r.Skip(r.Get<WORD>());  // creation data
    t->items.push_back(item);
  }
  return r.Ok();
}

// Walks a VS_VERSIONINFO tree: the fixed record of the root, and every string value as
// "<table>/<key>". Each node: length, value length, type (1: text), key, value, children.
void WalkVersionBlock(const BYTE* p, size_t size, VS_FIXEDFILEINFO* fixed,
                      std::map<std::string, std::string>* values, const std::string& table = "",
                      int depth = 0) {
  size_t pos = 0;
  while (pos + 6 <= size) {
    const WORD length = *reinterpret_cast<const WORD*>(p + pos);
    const WORD valueLength = *reinterpret_cast<const WORD*>(p + pos + 2);
    const WORD type = *reinterpret_cast<const WORD*>(p + pos + 4);
    if (length < 6 || pos + length > size) return;
    const BYTE* node = p + pos;
    size_t off = 6;
    std::string key;
    while (off + 2 <= length && *reinterpret_cast<const WORD*>(node + off) != 0) {
      key += static_cast<char>(*reinterpret_cast<const WORD*>(node + off));
      off += 2;
    }
    off = (off + 2 + 3) & ~static_cast<size_t>(3);
    const size_t valueBytes = type == 1 ? valueLength * 2u : valueLength;
    if (depth == 0 && valueBytes == sizeof(VS_FIXEDFILEINFO) && off + valueBytes <= length) {
      memcpy(fixed, node + off, sizeof(VS_FIXEDFILEINFO));
    } else if (depth == 3 && type == 1 && off + valueBytes <= length) {
      std::string value;
      for (size_t i = 0; i + 2 <= valueBytes; i += 2) {
        const WORD c = *reinterpret_cast<const WORD*>(node + off + i);
        if (c == 0) break;
        value += static_cast<char>(c);
      }
      (*values)[table + "/" + key] = value;
    }
    off = (off + valueBytes + 3) & ~static_cast<size_t>(3);
    if (off < length) {
      WalkVersionBlock(node + off, length - off, fixed, values, depth == 2 ? key : table,
                       depth + 1);
    }
    pos = (pos + length + 3) & ~static_cast<size_t>(3);
    if (depth == 0) return;
  }
}

const DWORD kChild = WS_CHILD | WS_VISIBLE;
const DWORD kEdit = kChild | WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL;
const DWORD kGroup = kChild | BS_GROUPBOX;
const DWORD kPush = kChild | WS_TABSTOP | BS_PUSHBUTTON;
const DWORD kCheck = kChild | WS_TABSTOP | BS_AUTOCHECKBOX;
const DWORD kLabel = kChild | WS_GROUP | SS_LEFT;

void ExpectItems(const std::vector<CItem>& got, const std::vector<CItem>& want) {
  ASSERT_EQ(got.size(), want.size());
  for (size_t i = 0; i < want.size(); ++i) {
    SCOPED_TRACE("template item " + std::to_string(i) + " \"" + want[i].text + "\"");
    EXPECT_EQ(got[i].id, want[i].id);
    EXPECT_STRCASEEQ(got[i].cls.c_str(), want[i].cls.c_str());
    EXPECT_EQ(got[i].text, want[i].text);
    EXPECT_EQ(got[i].style, want[i].style) << std::hex << got[i].style;
    EXPECT_EQ(got[i].exStyle, 0u);
    EXPECT_EQ(got[i].x, want[i].x);
    EXPECT_EQ(got[i].y, want[i].y);
    EXPECT_EQ(got[i].cx, want[i].cx);
    EXPECT_EQ(got[i].cy, want[i].cy);
  }
}

TEST(UiTemplate, SetupDialogIsTheTabledTemplate) {
  CTemplate t;
  ASSERT_TRUE(LoadTemplate(IDD_SETUP_DIALOG, &t));
  EXPECT_EQ(
      t.style,
      0x90CA08C4u);  // popup visible caption sysmenu minimize modalframe 3dlook center setfont
  EXPECT_EQ(t.style,
            static_cast<DWORD>(WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX |
                               DS_MODALFRAME | DS_3DLOOK | DS_CENTER | DS_SETFONT));
  EXPECT_EQ(t.exStyle, static_cast<DWORD>(WS_EX_APPWINDOW));
  EXPECT_EQ(t.style & (WS_MAXIMIZEBOX | WS_THICKFRAME), 0u);
  EXPECT_EQ(t.x, 0);
  EXPECT_EQ(t.y, 0);
  EXPECT_EQ(t.cx, 220);
  EXPECT_EQ(t.cy, 262);
  EXPECT_EQ(t.title, "Corvane Bluetooth Setup Utility v1.2");
  EXPECT_EQ(t.pointSize, 8);
  EXPECT_EQ(t.font, "MS Sans Serif");

  const std::vector<CItem> want = {
      {IDOK, "Button", "OK", WS_CHILD | WS_DISABLED | WS_TABSTOP | BS_DEFPUSHBUTTON, 0, 163, 7, 50,
       14},
      {IDCANCEL, "Button", "EXIT", kPush, 0, 85, 228, 50, 20},
      {IDC_READ, "Button", "Read", kPush, 0, 7, 228, 73, 20},
      {IDC_PROGRAM, "Button", "Program", kPush, 0, 140, 228, 73, 20},
      {-1, "Button", "Device Address", kGroup, 0, 7, 7, 206, 40},
      {IDC_DEVICE_ADDRESS, "Edit", "", kEdit, 0, 13, 22, 113, 14},
      {-1, "Button", "Device Name", kGroup, 0, 7, 49, 206, 40},
      {IDC_DEVICE_NAME, "Edit", "", kEdit, 0, 13, 65, 113, 14},
      {-1, "Button", "Peer Address", kGroup, 0, 7, 92, 206, 40},
      {IDC_PEER_ADDR1, "Edit", "", kEdit, 0, 14, 110, 18, 14},
      {IDC_PEER_ADDR2, "Edit", "", kEdit, 0, 39, 110, 18, 14},
      {IDC_PEER_ADDR3, "Edit", "", kEdit, 0, 63, 110, 18, 14},
      {IDC_PEER_ADDR4, "Edit", "", kEdit, 0, 88, 110, 18, 14},
      {IDC_PEER_ADDR5, "Edit", "", kEdit, 0, 113, 110, 18, 14},
      {IDC_PEER_ADDR6, "Edit", "", kEdit, 0, 134, 110, 18, 14},
      {-1, "Button", "Pin Code", kGroup, 0, 7, 135, 101, 40},
      {IDC_PIN_CODE, "Edit", "", kEdit, 0, 13, 150, 53, 14},
      {-1, "Button", "Role", kGroup, 0, 112, 135, 101, 40},
      {IDC_MASTER, "Button", "Master", kCheck, 0, 117, 145, 37, 10},
      {IDC_SLAVE, "Button", "Slave", kCheck, 0, 118, 159, 34, 10},
      {IDC_PROGRESS, "msctls_progress32", "Progress1", kChild | WS_BORDER, 0, 7, 211, 206, 10},
      {-1, "Static", " ( Max. 16 char )", kLabel, 0, 135, 70, 52, 8},
      {-1, "Static", "( 8 char )", kLabel, 0, 70, 155, 29, 8},
      {-1, "Button", "Options", kGroup, 0, 7, 179, 206, 28},
      {IDC_TURN_OFF, "Button", "Turn off Bluetooth after programming", kCheck, 0, 13, 191, 189, 10},
  };
  ExpectItems(t.items, want);
}

TEST(UiTemplate, AboutBoxIsTheTabledTemplate) {
  CTemplate t;
  ASSERT_TRUE(LoadTemplate(IDD_ABOUTBOX, &t));
  EXPECT_FALSE(t.extended);
  EXPECT_EQ(t.style, 0x80C800C0u);
  EXPECT_EQ(t.exStyle, 0u);
  EXPECT_EQ(t.x, 0);
  EXPECT_EQ(t.y, 0);
  EXPECT_EQ(t.cx, 235);
  EXPECT_EQ(t.cy, 55);
  EXPECT_EQ(t.title, "Informazioni su corvane_bt_config");
  EXPECT_EQ(t.pointSize, 8);
  EXPECT_EQ(t.font, "MS Sans Serif");
  ASSERT_EQ(t.items.size(), 4u);
  // The icon control names icon resource 128 by ordinal.
  EXPECT_EQ(t.items[0].text, "#" + std::to_string(IDR_MAINFRAME));
  EXPECT_EQ(t.items[0].style, static_cast<DWORD>(kChild | SS_ICON));
  const std::vector<CItem> want = {
      {-1, "Static", t.items[0].text, kChild | SS_ICON, 0, 11, 17, 20, 20},
      {-1, "Static", "corvane_bt_config Versione 1.1", kLabel | SS_NOPREFIX, 0, 40, 10, 119, 8},
      {-1, "Static", t.items[2].text, kLabel, 0, 40, 25, 119, 8},
      {IDOK, "Button", "OK", kChild | WS_GROUP | WS_TABSTOP | BS_DEFPUSHBUTTON, 0, 178, 7, 50, 14},
  };
  ExpectItems(t.items, want);
  EXPECT_FALSE(t.items[2].text.empty());
}

TEST(UiResources, AboutStringIconsAndVersion) {
  char text[128] = "";
  ASSERT_GT(LoadStringA(GetModuleHandleA(nullptr), IDS_ABOUTBOX, text, sizeof text), 0);
  EXPECT_STREQ(text, "Infor&mazioni su corvane_bt_config...");
  // The application has no title string: its title is the file name.
  EXPECT_EQ(LoadStringA(GetModuleHandleA(nullptr), 0xE000, text, sizeof text), 0);

  // Icon 128: a 32x32 24-bit image and a 16x16 16-colour image; the button icons one 16x16
  // 256-colour image each.
  struct CWant {
    int id;
    std::vector<std::vector<int>> images;  // width, height, colour count, bits
  };
  const CWant icons[] = {{IDR_MAINFRAME, {{32, 32, 0, 24}, {16, 16, 16, 4}}},
                         {IDI_EXIT, {{16, 16, 0, 8}}},
                         {IDI_PROGRAM, {{16, 16, 0, 8}}},
                         {IDI_READ, {{16, 16, 0, 8}}}};
  for (const CWant& w : icons) {
    SCOPED_TRACE("icon " + std::to_string(w.id));
    HRSRC hRes = FindResourceA(nullptr, MAKEINTRESOURCEA(w.id), MAKEINTRESOURCEA(14));
    ASSERT_NE(hRes, nullptr);
    const BYTE* p = static_cast<const BYTE*>(LockResource(LoadResource(nullptr, hRes)));
    const WORD count = *reinterpret_cast<const WORD*>(p + 4);
    ASSERT_EQ(count, w.images.size());
    for (WORD i = 0; i < count; ++i) {
      const BYTE* e = p + 6 + 14 * i;  // GRPICONDIRENTRY
      EXPECT_EQ(e[0], w.images[i][0]);
      EXPECT_EQ(e[1], w.images[i][1]);
      EXPECT_EQ(e[2], w.images[i][2]);
      EXPECT_EQ(*reinterpret_cast<const WORD*>(e + 6), w.images[i][3]);
    }
    EXPECT_NE(LoadImageA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(w.id), IMAGE_ICON, 0, 0,
                         LR_DEFAULTCOLOR),
              nullptr);
  }

  HRSRC hVer = FindResourceA(nullptr, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(16));
  ASSERT_NE(hVer, nullptr);
  const BYTE* ver = static_cast<const BYTE*>(LockResource(LoadResource(nullptr, hVer)));
  std::map<std::string, std::string> values;
  VS_FIXEDFILEINFO fixed = {};
  WalkVersionBlock(ver, SizeofResource(nullptr, hVer), &fixed, &values);
  EXPECT_EQ(fixed.dwSignature, 0xFEEF04BDu);
  EXPECT_EQ(fixed.dwFileVersionMS, 0x00010002u);
  EXPECT_EQ(fixed.dwFileVersionLS, 0u);
  EXPECT_EQ(fixed.dwProductVersionMS, 0x00010002u);
  EXPECT_EQ(fixed.dwProductVersionLS, 0u);
  EXPECT_EQ(fixed.dwFileType, static_cast<DWORD>(VFT_APP));
  EXPECT_EQ(fixed.dwFileOS, static_cast<DWORD>(VOS__WINDOWS32));
  const std::map<std::string, std::string> want = {
      {"041004b0/FileDescription", "Corvane Bluetooth Setup"},
      {"041004b0/ProductName", "Corvane Bluetooth Setup"},
      {"041004b0/InternalName", "Corvane_BT_Setup"},
      {"041004b0/OriginalFilename", "Corvane_BT_Setup.EXE"},
      {"041004b0/FileVersion", "1, 2, 0, 0"},
      {"041004b0/ProductVersion", "1, 2, 0, 0"}};
  for (const auto& kv : want) EXPECT_EQ(values[kv.first], kv.second) << kv.first;

  // The manifest asks for common controls 6 (the icon buttons draw themed only then).
  HRSRC hMan = FindResourceA(nullptr, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));
  ASSERT_NE(hMan, nullptr);
  std::string manifest(static_cast<const char*>(LockResource(LoadResource(nullptr, hMan))),
                       SizeofResource(nullptr, hMan));
  EXPECT_NE(manifest.find("name=\"test.exe\""), std::string::npos);
  EXPECT_NE(manifest.find("version=\"5.1.0.0\""), std::string::npos);
  EXPECT_NE(manifest.find("<description>Test Application</description>"), std::string::npos);
  EXPECT_NE(manifest.find("name=\"Microsoft.Windows.Common-Controls\""), std::string::npos);
  EXPECT_NE(manifest.find("version=\"6.0.0.0\""), std::string::npos);
  // Both identities name the process's own architecture, or the manifest is not activated.
#ifdef _WIN64
  const char* arch = "processorArchitecture=\"amd64\"";
#else
  const char* arch = "processorArchitecture=\"x86\"";
#endif
  const size_t first = manifest.find(arch);
  ASSERT_NE(first, std::string::npos);
  EXPECT_NE(manifest.find(arch, first + 1), std::string::npos);
  EXPECT_EQ(manifest.find("processorArchitecture=\"", 0), first);
}

TEST(UiResources, AllInItalian) {
  const WORD italian = MAKELANGID(LANG_ITALIAN, SUBLANG_ITALIAN);
  EXPECT_NE(
      FindResourceExA(nullptr, MAKEINTRESOURCEA(5), MAKEINTRESOURCEA(IDD_SETUP_DIALOG), italian),
      nullptr);
  EXPECT_NE(FindResourceExA(nullptr, MAKEINTRESOURCEA(5), MAKEINTRESOURCEA(IDD_ABOUTBOX), italian),
            nullptr);
  EXPECT_NE(
      FindResourceExA(nullptr, MAKEINTRESOURCEA(14), MAKEINTRESOURCEA(IDR_MAINFRAME), italian),
      nullptr);
  EXPECT_NE(FindResourceExA(nullptr, MAKEINTRESOURCEA(16), MAKEINTRESOURCEA(1), italian), nullptr);
  // String 101 lives in block 101 / 16 + 1.
  EXPECT_NE(FindResourceExA(nullptr, MAKEINTRESOURCEA(6), MAKEINTRESOURCEA(IDS_ABOUTBOX / 16 + 1),
                            italian),
            nullptr);
  EXPECT_EQ(FindResourceExA(nullptr, MAKEINTRESOURCEA(5), MAKEINTRESOURCEA(IDD_SETUP_DIALOG),
                            MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US)),
            nullptr);
}

}  // namespace
