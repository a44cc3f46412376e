// The words for a failed file step and the tests' fault hook.
#include "platform/files/recovery/FileFaults.h"

#include <cerrno>
#include <mutex>
#include <utility>

namespace lg {

namespace {

// ---- Fault hook ----
std::mutex g_faultMutex;
FileFaultHook g_fault;

} // namespace

int injectedFileFault(FileStep step, const QString &path)
{
    FileFaultHook hook;
    {
        std::lock_guard<std::mutex> lock(g_faultMutex);
        if (!g_fault)
            return 0;
        hook = g_fault;
    }
    return hook(step, path);
}

void setFileFaultForTesting(FileFaultHook hook)
{
    std::lock_guard<std::mutex> lock(g_faultMutex);
    g_fault = std::move(hook);
}

QString errnoClause(int err)
{
    switch (err) {
    case EPERM: return QStringLiteral("the disk refused the change");
    case EACCES: return QStringLiteral("permission was denied");
    case EROFS: return QStringLiteral("the disk is read-only");
    case ENOSPC:
    case EDQUOT: return QStringLiteral("there is not enough space");
    case ENOENT: return QStringLiteral("the item is no longer there");
    case EEXIST:
    case ENOTEMPTY: return QStringLiteral("an item with the same name is in the way");
    case ENAMETOOLONG: return QStringLiteral("the name is too long for the disk");
    case EIO: return QStringLiteral("the disk could not be read or written");
    case EOPNOTSUPP: return QStringLiteral("this kind of item or change is not supported there");
    case EBUSY:
    case ETXTBSY: return QStringLiteral("the item is in use");
    case ELOOP: return QStringLiteral("a link stands in the way");
    case ENOTDIR: return QStringLiteral("a file stands where a folder was expected");
    case EISDIR: return QStringLiteral("a folder stands where a file was expected");
    case EMLINK: return QStringLiteral("the disk holds no more names for this item");
    case EXDEV: return QStringLiteral("the item lies on another disk");
    case EINVAL: return QStringLiteral("the disk does not accept this name or change");
    case ECANCELED: return QStringLiteral("the work was stopped");
    case ENODEV:
    case ENXIO:
    case ENOTCONN:
    case ESTALE:
    case EHOSTDOWN:
    case ETIMEDOUT: return QStringLiteral("the disk cannot be reached");
    case EMFILE:
    case ENFILE:
    case ENOMEM: return QStringLiteral("the system ran short of resources");
    case EFBIG: return QStringLiteral("the file is too large for the disk");
    case EILSEQ: return QStringLiteral("the disk does not accept this name");
    default: return QStringLiteral("the system reported error %1").arg(err);
    }
}

QString errnoSentence(int err)
{
    QString text = errnoClause(err);
    text[0] = text.at(0).toUpper();
    return text + QLatin1Char('.');
}

} // namespace lg
