// Saved settings over QSettings with a JSON format of our own.
//
// The file is one JSON object whose members are the full setting keys ("arrPaths",
// "deployment/updateFeed"), so a value never mixes with a group. Values map as:
//   Bool <-> true/false; whole numbers <-> Int (qlonglong outside the int range);
//   other numbers <-> Double; String <-> string; string lists <-> arrays of strings
//   (other lists <-> arrays); maps <-> objects; QByteArray <-> {"$bytes": base64}.
// Types without a JSON form (dates, URLs, ...) are stored as their string form.
// setValue stores the value already in its file form, so a value reads the same
// before and after a round trip through the file.
//
// Every call opens a QSettings on the file path of that moment: QSettings shares
// one parsed copy of a file between its objects and checks the file's size and
// time on each open, so this costs a stat, follows HOME and XDG_CONFIG_HOME, and is
// safe from any thread. A write goes to disk when its QSettings closes, through
// QSaveFile (a temporary file renamed over the old one) under a lock file.
#include "platform/desktop/Settings.h"

#include "platform/desktop/Paths.h"
#include "platform/files/names/FileNames.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QJsonValue>
#include <QSettings>

#include <cmath>
#include <limits>
#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

namespace lg {

namespace {

const QString bytesKey = QStringLiteral("$bytes");

QJsonValue toJson(const QVariant &value);

QVariant fromJson(const QJsonValue &json)
{
    switch (json.type()) {
    case QJsonValue::Bool:
        return json.toBool();
    case QJsonValue::Double: {
        const QVariant number = json.toVariant();  // LongLong when written without a fraction
        if (number.typeId() == QMetaType::LongLong) {
            const qint64 whole = number.toLongLong();
            if (whole >= std::numeric_limits<int>::min() && whole <= std::numeric_limits<int>::max())
                return int(whole);
            return whole;
        }
        const double d = json.toDouble();
        if (std::isfinite(d) && d == std::trunc(d) && d >= std::numeric_limits<int>::min()
            && d <= std::numeric_limits<int>::max())
            return int(d);
        return d;
    }
    case QJsonValue::String:
        return json.toString();
    case QJsonValue::Array: {
        const QJsonArray array = json.toArray();
        bool allStrings = true;
        for (const QJsonValue &item : array)
            allStrings = allStrings && item.isString();
        if (allStrings) {
            QStringList list;
            list.reserve(array.size());
            for (const QJsonValue &item : array)
                list.append(item.toString());
            return list;
        }
        QVariantList list;
        list.reserve(array.size());
        for (const QJsonValue &item : array)
            list.append(fromJson(item));
        return list;
    }
    case QJsonValue::Object: {
        const QJsonObject object = json.toObject();
        if (object.size() == 1 && object.value(bytesKey).isString())
            return QByteArray::fromBase64(object.value(bytesKey).toString().toLatin1());
        QVariantMap map;
        for (auto it = object.begin(); it != object.end(); ++it)
            map.insert(it.key(), fromJson(it.value()));
        return map;
    }
    case QJsonValue::Null:
    case QJsonValue::Undefined:
        break;
    }
    return QVariant();
}

QJsonValue toJson(const QVariant &value)
{
    switch (value.typeId()) {
    case QMetaType::UnknownType:
    case QMetaType::Nullptr:
        return QJsonValue::Null;
    case QMetaType::Bool:
        return value.toBool();
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Long:
    case QMetaType::LongLong:
    case QMetaType::Char:
    case QMetaType::SChar:
    case QMetaType::UChar:
        return value.toLongLong();
    case QMetaType::ULong:
    case QMetaType::ULongLong: {
        const qulonglong u = value.toULongLong();
        if (u <= qulonglong(std::numeric_limits<qint64>::max()))
            return qint64(u);
        return double(u);
    }
    case QMetaType::Double:
    case QMetaType::Float: {
        const double d = value.toDouble();
        return std::isfinite(d) ? QJsonValue(d) : QJsonValue(QJsonValue::Null);
    }
    case QMetaType::QString:
        return value.toString();
    case QMetaType::QStringList:
        return QJsonArray::fromStringList(value.toStringList());
    case QMetaType::QVariantList: {
        QJsonArray array;
        for (const QVariant &item : value.toList())
            array.append(toJson(item));
        return array;
    }
    case QMetaType::QVariantMap:
    case QMetaType::QVariantHash: {
        QJsonObject object;
        const QVariantMap map = value.toMap();
        for (auto it = map.begin(); it != map.end(); ++it)
            object.insert(it.key(), toJson(it.value()));
        return object;
    }
    case QMetaType::QByteArray:
        return QJsonObject{{bytesKey, QString::fromLatin1(value.toByteArray().toBase64())}};
    default:
        break;
    }
    if (value.canConvert<QString>())
        return value.toString();
    const QJsonValue json = QJsonValue::fromVariant(value);
    if (json.isNull())
        qWarning().noquote() << "Settings: a value of type" << value.typeName()
                             << "has no file form and is stored as null";
    return json;
}

bool readJson(QIODevice &device, QSettings::SettingsMap &map)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(device.readAll(), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        // The file is kept beside the settings, since the next write replaces it.
        QString note;
        if (auto *file = qobject_cast<QFile *>(&device)) {
            const QString copy = file->fileName() + QStringLiteral(".corrupt");
            QFile::remove(copy);
            if (QFile::copy(file->fileName(), copy))
                note = QStringLiteral("; a copy is kept at ") + copy;
        }
        const QString reason = error.error != QJsonParseError::NoError
            ? QStringLiteral("%1 at offset %2").arg(error.errorString()).arg(error.offset)
            : QStringLiteral("not a JSON object");
        qWarning().noquote() << QStringLiteral("Settings file is unreadable (%1), starting from empty settings%2")
                                    .arg(reason, note);
        return false;
    }
    const QJsonObject object = document.object();
    for (auto it = object.begin(); it != object.end(); ++it)
        map.insert(it.key(), fromJson(it.value()));
    return true;
}

bool writeJson(QIODevice &device, const QSettings::SettingsMap &map)
{
    QJsonObject object;
    for (auto it = map.begin(); it != map.end(); ++it)
        object.insert(it.key(), toJson(it.value()));
    const QByteArray bytes = QJsonDocument(object).toJson(QJsonDocument::Indented);
    return device.write(bytes) == bytes.size();
}

QSettings::Format jsonFormat()
{
    static const QSettings::Format format =
        QSettings::registerFormat(QStringLiteral("json"), readJson, writeJson, Qt::CaseSensitive);
    return format;
}

// Something other than a regular file under the settings name (a FIFO, which
// would block the first read forever, a folder, a device) is moved aside to
// lumengallery.json.corrupt, as a damaged file is kept, and settings start empty.
QString regularSettingsFile()
{
    const QString path = Settings::filePath();
    struct stat info {};
    const QByteArray native = lg::FileNames::toNative(path);
    if (::stat(native.constData(), &info) != 0 || S_ISREG(info.st_mode))
        return path;
    const QString aside = path + QStringLiteral(".corrupt");
    const QByteArray nativeAside = lg::FileNames::toNative(aside);
    // A folder left there before may block the name; then the new one is removed.
    QFile::remove(aside);
    const bool moved = ::rename(native.constData(), nativeAside.constData()) == 0
        || (!QFileInfo(path).isDir() && ::unlink(native.constData()) == 0);
    qWarning().noquote() << QStringLiteral("Settings file is not a regular file, starting from empty settings%1")
                                .arg(moved ? QStringLiteral("; it is set aside at ") + aside : QString());
    return path;
}

// The settings file of this moment, opened for one call.
class Store : public QSettings
{
public:
    Store() : QSettings(regularSettingsFile(), jsonFormat()) {}
};

void reportWriteFailure(QSettings &settings)
{
    settings.sync();
    if (settings.status() == QSettings::AccessError)
        qWarning().noquote() << "Settings could not be written to" << settings.fileName();
}

// The stored value when it has exactly the given type.
template <typename T>
std::optional<T> typedValue(const QString &key, QMetaType::Type type)
{
    const QVariant value = Settings::value(key);
    if (value.typeId() == type)
        return value.value<T>();
    return std::nullopt;
}

} // namespace

QVariant Settings::value(const QString &key)
{
    return Store().value(key);
}

bool Settings::contains(const QString &key)
{
    return Store().contains(key);
}

void Settings::setValue(const QString &key, const QVariant &value)
{
    Store settings;
    settings.setValue(key, fromJson(toJson(value)));
    reportWriteFailure(settings);
}

void Settings::remove(const QString &key)
{
    Store settings;
    settings.remove(key);
    reportWriteFailure(settings);
}

std::optional<int> Settings::intValue(const QString &key)
{
    return typedValue<int>(key, QMetaType::Int);
}

std::optional<bool> Settings::boolValue(const QString &key)
{
    return typedValue<bool>(key, QMetaType::Bool);
}

std::optional<QString> Settings::stringValue(const QString &key)
{
    return typedValue<QString>(key, QMetaType::QString);
}

std::optional<QStringList> Settings::stringListValue(const QString &key)
{
    return typedValue<QStringList>(key, QMetaType::QStringList);
}

void Settings::sync()
{
    // Each write is on disk when setValue or remove returns; a sync still makes
    // Qt look at the file again.
    Store().sync();
}

QString Settings::filePath()
{
    return Paths::config() + QStringLiteral("/lumengallery.json");
}

void Settings::reload()
{
    // Nothing is cached here: the next call opens the file of that moment, and
    // Qt rereads a file whose size or time has changed.
    Store().sync();
}

} // namespace lg
