#include "sidebar/BaseNode.h"

namespace {

const QString keyNodeTitle = QStringLiteral("nodeTitle");
const QString keyIsLeaf = QStringLiteral("isLeaf");
const QString keyChildren = QStringLiteral("children");
const QString keyNodeIcon = QStringLiteral("nodeIcon");
const QString keyUrlString = QStringLiteral("urlString");
const QString keyIsBookmark = QStringLiteral("isBookmark");
const QString keyDescription = QStringLiteral("description");

} // namespace

// ---------------------------------------------------------------- BaseNode

BaseNode::BaseNode() : m_nodeTitle(QStringLiteral("BaseNode Untitled")) {}

BaseNode::~BaseNode() = default;

BaseNode::Ptr BaseNode::initLeaf()
{
    auto node = std::make_shared<BaseNode>();
    node->setIsLeaf(true);
    return node;
}

void BaseNode::setUrl(const std::optional<QUrl> &url)
{
    if (url && url->isEmpty())
        m_url.reset();
    else
        m_url = url;
}

bool BaseNode::isBookmark() const
{
    return m_url && !m_url->isLocalFile();
}

QList<BaseNode::Ptr> BaseNode::children() const
{
    if (m_isLeaf) {
        // A node made on the stack has no owner to hand out.
        if (Ptr self = std::const_pointer_cast<BaseNode>(weak_from_this().lock()))
            return {self};
        return {};
    }
    return m_children;
}

void BaseNode::setChildren(const QList<Ptr> &children)
{
    m_children = children;
}

QStringList BaseNode::nodeKeys() const
{
    return {keyNodeTitle, keyIsLeaf, keyChildren, keyNodeIcon, keyUrlString, keyIsBookmark};
}

QString BaseNode::description() const
{
    return QStringLiteral("BaseNode");
}

QVariant BaseNode::valueForKey(const QString &key) const
{
    if (key == keyNodeTitle)
        return m_nodeTitle;
    if (key == keyIsLeaf)
        return m_isLeaf;
    if (key == keyChildren) {
        // A leaf's children list holds the leaf itself: coded as none.
        QVariantList codings;
        if (!m_isLeaf) {
            for (const Ptr &child : m_children) {
                if (child)
                    codings.append(child->encodeWithCoder());
            }
        }
        return codings;
    }
    if (key == keyUrlString)
        return m_url ? QVariant(m_url->toString()) : QVariant();
    if (key == keyIsBookmark)
        return isBookmark();
    if (key == keyDescription)
        return description();
    return {};  // "nodeIcon": the node keeps no icon
}

void BaseNode::setValueForKey(const QString &key, const QVariant &value)
{
    if (!value.isValid()) {
        setNilValueForKey(key);
        return;
    }
    if (key == keyNodeTitle) {
        m_nodeTitle = value.toString();
    } else if (key == keyIsLeaf) {
        m_isLeaf = value.toBool();
    } else if (key == keyUrlString) {
        const QUrl url(value.toString());
        setUrl(url.isEmpty() ? std::nullopt : std::optional<QUrl>(url));
    } else if (key == keyChildren) {
        QList<Ptr> children;
        for (const QVariant &coding : value.toList()) {
            if (Ptr child = initWithCoder(coding.toMap()))
                children.append(child);
        }
        m_children = children;
    }
}

void BaseNode::setNilValueForKey(const QString &key)
{
    if (key == keyIsLeaf)
        setIsLeaf(false);
    else if (key == keyUrlString)
        m_url.reset();
}

QVariantMap BaseNode::encodeWithCoder() const
{
    QVariantMap coding;
    for (const QString &key : nodeKeys())
        coding.insert(key, valueForKey(key));
    return coding;
}

BaseNode::Ptr BaseNode::initWithCoder(const QVariantMap &coding)
{
    Ptr node;
    if (coding.value(keyDescription).toString() == QLatin1String("ChildNode"))
        node = std::make_shared<ChildNode>();
    else
        node = std::make_shared<BaseNode>();
    for (const QString &key : node->nodeKeys())
        node->setValueForKey(key, coding.value(key));
    return node;
}

BaseNode::Ptr BaseNode::copyWithZone() const
{
    Ptr copy = makeEmpty();
    copy->m_nodeTitle = m_nodeTitle;
    copy->m_isLeaf = m_isLeaf;
    copy->m_children = m_children;
    copy->m_url = m_url;
    return copy;
}

BaseNode::Ptr BaseNode::makeEmpty() const
{
    return std::make_shared<BaseNode>();
}

bool BaseNode::isOneOfNodesOrDescendant(const QList<Ptr> &nodes) const
{
    for (const Ptr &node : nodes) {
        if (!node)
            continue;
        if (node.get() == this)
            return true;
        if (!node->isLeaf() && isOneOfNodesOrDescendant(node->childNodes()))
            return true;
    }
    return false;
}

bool BaseNode::isDescendantOfNodes(const QList<Ptr> &nodes) const
{
    for (const Ptr &node : nodes) {
        if (!node || node->isLeaf())
            continue;
        if (isOneOfNodesOrDescendant(node->childNodes()))
            return true;
    }
    return false;
}

// ---------------------------------------------------------------- ChildNode

ChildNode::ChildNode()
{
    setNodeTitle(QString());
}

QStringList ChildNode::nodeKeys() const
{
    QStringList keys = BaseNode::nodeKeys();
    keys.append(keyDescription);
    return keys;
}

QString ChildNode::description() const
{
    return QStringLiteral("ChildNode");
}

BaseNode::Ptr ChildNode::makeEmpty() const
{
    return std::make_shared<ChildNode>();
}
