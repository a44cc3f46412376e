// What the window says about a module that cannot be used, and why.
#include "platform/modules/ModuleProblems.h"

namespace lg::image {

ModuleProblem problemFor(Module module, Refusal refusal, bool updatedSinceStart)
{
    const ModuleFacts &facts = factsOf(module);
    const QString name = QString::fromLatin1(facts.name);
    const QString reinstall = QStringLiteral("Reinstalling Lumen Gallery may help.");
    QString reason;
    QString advice = reinstall;
    const bool aLink = refusal == Refusal::Elsewhere || refusal == Refusal::LinkLoop || refusal == Refusal::TooManyLinks;
    if (refusal != Refusal::Untrusted && refusal != Refusal::NowhereToRun && !aLink && updatedSinceStart) {
        reason = QStringLiteral("Lumen Gallery was updated while it was running, and the %1 module of the running "
                                "version can no longer be used.").arg(name);
        advice = QStringLiteral("Restart Lumen Gallery to show them.");
    } else if (refusal == Refusal::Missing) {
        reason = QStringLiteral("The %1 module of this version is missing.").arg(name);
    } else if (refusal == Refusal::Untrusted) {
        reason = QStringLiteral("The %1 module, or the folder it is in, may be changed by other users, so it is not used.")
                     .arg(name);
        advice.clear();
    } else if (refusal == Refusal::Elsewhere) {
        reason = QStringLiteral("The %1 module is a link to a file outside its folder, so it is not used.").arg(name);
    } else if (refusal == Refusal::LinkLoop) {
        reason = QStringLiteral("The %1 module is a link that leads round in a loop, so it is not used.").arg(name);
    } else if (refusal == Refusal::TooManyLinks) {
        reason = QStringLiteral("The %1 module leads through more links than are followed, so it is not used.").arg(name);
    } else if (refusal == Refusal::Damaged) {
        reason = QStringLiteral("The %1 module of this version is damaged.").arg(name);
    } else if (refusal == Refusal::ChangedAfterBuild) {
        // A packager's or an administrator's rewrite: a reinstall would bring it back.
        reason = QStringLiteral("The %1 module was changed after it was built, so it is not used.").arg(name);
        advice.clear();
    } else if (refusal == Refusal::ChangedWhileRead) {
        reason = QStringLiteral("The %1 module changed while it was being read, so it is not used.").arg(name);
        advice = QStringLiteral("Restarting Lumen Gallery may help.");
    } else if (refusal == Refusal::NowhereToRun) {
        reason = QStringLiteral("The %1 module cannot be run: this system runs code neither from memory nor from the "
                                "folders where Lumen Gallery may keep a copy of it.").arg(name);
        advice.clear();
    } else if (refusal == Refusal::OtherBuild) {
        reason = QStringLiteral("The %1 module found belongs to another version of Lumen Gallery.").arg(name);
    } else {
        reason = QStringLiteral("The %1 module cannot be loaded: a library it needs is missing or of another version.")
                     .arg(name);
    }
    const QString text = advice.isEmpty() ? reason : reason + QLatin1Char(' ') + advice;
    return {module, QString::fromLatin1(facts.title), text, reason, advice};
}

} // namespace lg::image
