#include "ui/dialogs/file_filter.h"

#include <QFileInfo>
#include <QStringList>

namespace vez {

QString qtFileFilter(std::string_view filter)
{
    const QStringList parts =
        QString::fromUtf8(filter.data(), qsizetype(filter.size())).split(u'|', Qt::KeepEmptyParts);
    QStringList entries;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        if (parts[i].isEmpty())
            break; // the "||" that ends the list
        // Qt reads "*.*" as names with a dot; the filter means every file.
        QStringList patterns = parts[i + 1].split(u';', Qt::SkipEmptyParts);
        for (QString& pattern : patterns) {
            if (pattern == "*.*")
                pattern = "*";
        }
        // The description usually carries its patterns already: "PGN files (*.pgn)".
        QString description = parts[i];
        if (const qsizetype open = description.lastIndexOf(" ("); open > 0)
            description.truncate(open);
        entries << description + " (" + patterns.join(u' ') + ")";
    }
    return entries.join(";;");
}

QString withDefaultSuffix(const QString& path, std::string_view defaultExtension)
{
    if (path.isEmpty() || defaultExtension.empty())
        return path;
    if (path.endsWith(u'.'))
        return path.chopped(1);
    if (!QFileInfo(path).suffix().isEmpty())
        return path;
    return path + "." + QString::fromUtf8(defaultExtension.data(), qsizetype(defaultExtension.size()));
}

} // namespace vez
