// The files of web/assets, built into the program (cmake/EmbedAssets.cmake): the pages work on
// a line with no internet, and no file is read to serve them.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

struct CWebAsset {
  const char* m_szName;  // the file's name, as served at /assets/NAME
  const char* m_szType;  // its Content-Type
  const unsigned char* m_pData;
  size_t m_nSize;

  std::string Text() const { return std::string(reinterpret_cast<const char*>(m_pData), m_nSize); }
};

const std::vector<CWebAsset>& WebAssets();

// The asset of that name, or null: a name is looked up, never a path opened.
inline const CWebAsset* FindWebAsset(const std::string& name) {
  for (const CWebAsset& asset : WebAssets()) {
    if (name == asset.m_szName) return &asset;
  }
  return nullptr;
}
