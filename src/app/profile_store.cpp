#include "app/profile_store.h"

#include <QSettings>
#include <QString>

namespace vez {

namespace {

QString keyOf(const std::string& key)
{
    // A "/" would open a subgroup; settings names here never hold one on purpose.
    return QString::fromStdString(std::string(ProfileStore::kSection) + "/" + key);
}

} // namespace

ProfileStore::ProfileStore()
    : m_settings(std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope,
                                             QStringLiteral("VEZ"), QStringLiteral("vez")))
{
}

ProfileStore::ProfileStore(const std::string& iniPath)
    : m_settings(std::make_unique<QSettings>(QString::fromStdString(iniPath), QSettings::IniFormat))
{
}

ProfileStore::~ProfileStore() = default;

int ProfileStore::getProfileInt(const std::string& key, int defaultValue) const
{
    const QVariant value = m_settings->value(keyOf(key));
    bool ok = false;
    const int number = value.toInt(&ok);
    return value.isValid() && ok ? number : defaultValue;
}

std::string ProfileStore::getProfileString(const std::string& key,
                                           const std::string& defaultValue) const
{
    const QVariant value = m_settings->value(keyOf(key));
    return value.isValid() ? value.toString().toStdString() : defaultValue;
}

void ProfileStore::writeProfileInt(const std::string& key, int value)
{
    m_settings->setValue(keyOf(key), value);
    m_settings->sync();
}

void ProfileStore::writeProfileString(const std::string& key, const std::string& value)
{
    m_settings->setValue(keyOf(key), QString::fromStdString(value));
    m_settings->sync();
}

std::string ProfileStore::fileName() const { return m_settings->fileName().toStdString(); }

} // namespace vez
