// Builds dialog templates in memory, so tests make their dialogs at run time without a
// resource script: a DLGTEMPLATE followed by DWORD-aligned DLGITEMTEMPLATE records.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

class CDialogTemplateBuilder {
 public:
  CDialogTemplateBuilder(DWORD dwStyle, short x, short y, short cx, short cy,
                         const char* pszTitle) {
    AppendDword(dwStyle | DS_SETFONT);
    AppendDword(0);  // extended style
    m_nCountAt = m_words.size();
    m_words.push_back(0);
    m_words.insert(m_words.end(), {WORD(x), WORD(y), WORD(cx), WORD(cy)});
    m_words.push_back(0);  // no menu
    m_words.push_back(0);  // the system dialog class
    AppendText(pszTitle);
    m_words.push_back(8);
    AppendText("MS Shell Dlg");
  }

  // wClassAtom: 0x0080 button, 0x0081 edit, 0x0082 static.
  void AddItem(WORD wClassAtom, DWORD dwStyle, short x, short y, short cx, short cy, WORD id,
               const char* pszText) {
    BeginItem(dwStyle, x, y, cx, cy, id);
    m_words.push_back(0xFFFF);
    m_words.push_back(wClassAtom);
    EndItem(pszText);
  }

  void AddItem(const char* pszClass, DWORD dwStyle, short x, short y, short cx, short cy, WORD id,
               const char* pszText) {
    BeginItem(dwStyle, x, y, cx, cy, id);
    AppendText(pszClass);
    EndItem(pszText);
  }

  LPCDLGTEMPLATE Get() const { return reinterpret_cast<LPCDLGTEMPLATE>(m_words.data()); }

 private:
  void BeginItem(DWORD dwStyle, short x, short y, short cx, short cy, WORD id) {
    if (m_words.size() % 2) m_words.push_back(0);
    AppendDword(dwStyle | WS_CHILD | WS_VISIBLE);
    AppendDword(0);
    m_words.insert(m_words.end(), {WORD(x), WORD(y), WORD(cx), WORD(cy), id});
  }
  void EndItem(const char* pszText) {
    AppendText(pszText);
    m_words.push_back(0);  // no creation data
    ++m_words[m_nCountAt];
  }
  void AppendDword(DWORD dw) {
    m_words.push_back(LOWORD(dw));
    m_words.push_back(HIWORD(dw));
  }
  void AppendText(const char* psz) {
    for (; *psz; ++psz) m_words.push_back(static_cast<unsigned char>(*psz));
    m_words.push_back(0);
  }

  std::vector<WORD> m_words;
  size_t m_nCountAt = 0;
};
