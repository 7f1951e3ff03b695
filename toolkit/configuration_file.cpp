#include "toolkit/configuration_file.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

namespace quorvane::toolkit {

using namespace Qt::StringLiterals;

namespace {

void readText(const QSettings& settings, const char* key, std::string& value) {
    if (settings.contains(key)) {
        value = settings.value(key).toString().toStdString();
    }
}

// Windows keeps a user's settings in the roaming application data folder, which follows the user
// from machine to machine; elsewhere $XDG_CONFIG_HOME (~/.config).
QString userConfigurationDirectory() {
#ifdef Q_OS_WIN
    return qEnvironmentVariable("APPDATA");
#else
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
#endif
}

}  // namespace

QStringList configurationFiles(const QString& programDirectory) {
    QStringList candidates{QDir(programDirectory).filePath(u"quorvane.ini"_s)};
    // No folder known: no user file either, rather than one relative to the working directory.
    const QString userDirectory = userConfigurationDirectory();
    if (!userDirectory.isEmpty()) {
        candidates.append(QDir(userDirectory).filePath(u"Quorvane/quorvane.ini"_s));
    }
    const QString named = qEnvironmentVariable("QUORVANE_CONFIG");
    if (!named.isEmpty()) {
        candidates.append(named);
    }
    QStringList files;
    for (const QString& candidate : candidates) {
        if (QFileInfo(candidate).isFile()) {
            files.append(candidate);
        }
    }
    return files;
}

Configuration loadConfiguration() {
    return loadConfiguration(configurationFiles(QCoreApplication::applicationDirPath()));
}

Configuration loadConfiguration(const QStringList& files) {
    Configuration configuration;
    for (const QString& file : files) {
        const QSettings settings(file, QSettings::IniFormat);
        readText(settings, "Web/MakerHost", configuration.makerHost);
        readText(settings, "Web/VendorHost", configuration.vendorHost);
        readText(settings, "Web/PortalHost", configuration.portalHost);
        readText(settings, "Mail/Server", configuration.mailServer);
        readText(settings, "Mail/Mirror1", configuration.mirrors[0]);
        readText(settings, "Mail/Mirror2", configuration.mirrors[1]);
        readText(settings, "Mail/Mirror3", configuration.mirrors[2]);
        readText(settings, "Registry/Directory", configuration.registryDirectory);
    }
    return configuration;
}

}  // namespace quorvane::toolkit
