// File dialog filters as the commands write them ("Description|pattern|...||") turned into
// the form Qt's file dialogs take ("Description (pattern);;...").
#pragma once

#include <QString>
#include <string_view>

namespace vez {

QString qtFileFilter(std::string_view filter);

// The path with the default extension added when the chosen name has none; a name that ends
// in a dot keeps no extension, as the name typed asked.
QString withDefaultSuffix(const QString& path, std::string_view defaultExtension);

} // namespace vez
