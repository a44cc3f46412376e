#pragma once
// The items of the sidebar tree and the request to add one.
//
// A node stands for a bookmarked root folder, a sub-folder found by the folder
// scan, a new folder, a Photos library package, a dropped URL or (without a URL)
// the entry that lists files opened from outside. Nodes are shared: the tree
// model, the sidebar's drag state and copies hold the same node objects, so
// the identity of a node is its address. Main thread only.
#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QVariant>
#include <QVariantMap>
#include <memory>
#include <optional>

class SidebarTreeModel;

class BaseNode : public std::enable_shared_from_this<BaseNode>
{
public:
    using Ptr = std::shared_ptr<BaseNode>;

    // A node with the start values: title "BaseNode Untitled", no URL, no
    // children, not a leaf.
    BaseNode();
    virtual ~BaseNode();
    BaseNode(const BaseNode &) = delete;
    BaseNode &operator=(const BaseNode &) = delete;

    // A new BaseNode that is a leaf.
    static Ptr initLeaf();

    QString nodeTitle() const { return m_nodeTitle; }
    void setNodeTitle(const QString &title) { m_nodeTitle = title; }
    std::optional<QUrl> url() const { return m_url; }
    void setUrl(const std::optional<QUrl> &url);
    bool isLeaf() const { return m_isLeaf; }
    void setIsLeaf(bool leaf) { m_isLeaf = leaf; }
    // True when the node has a URL that is not a file URL (a web bookmark).
    bool isBookmark() const;

    // For a leaf, a list holding only the node itself (when a shared pointer
    // owns it); otherwise the child nodes in display order. Walk the tree with
    // childNodes() or test isLeaf() first.
    QList<Ptr> children() const;
    void setChildren(const QList<Ptr> &children);
    // The stored child nodes, whatever isLeaf says.
    const QList<Ptr> &childNodes() const { return m_children; }

    // The node's parent in the sidebar tree; nullptr for a top-level node and
    // for a node outside the tree.
    BaseNode *parentNode() const { return m_parent; }

    // ---- Key-value access, by the key names of nodeKeys() ----
    // "nodeTitle", "isLeaf", "children", "nodeIcon", "urlString", "isBookmark"
    // (and "description" for a ChildNode).
    virtual QStringList nodeKeys() const;
    // The class's name: "BaseNode" or "ChildNode".
    virtual QString description() const;
    QVariant valueForKey(const QString &key) const;
    // An invalid value counts as a missing one (setNilValueForKey). Keys
    // without a setter ("nodeIcon", "isBookmark", "description") are ignored.
    void setValueForKey(const QString &key, const QVariant &value);
    // A missing "isLeaf" clears the flag; other missing values change nothing.
    void setNilValueForKey(const QString &key);

    // Coding by the key list: each key's value under its own name, the
    // children as a list of their own codings.
    QVariantMap encodeWithCoder() const;
    // A node of the class the coding names (a coding with "description"
    // "ChildNode" gives a ChildNode, any other a BaseNode) with its values.
    static Ptr initWithCoder(const QVariantMap &coding);
    // A shallow copy of the same class: the values of the key list, with the
    // children list copied and the children themselves shared.
    Ptr copyWithZone() const;

    // True when this node is one of nodes (by identity) or lies below one of
    // them; leaf nodes of the list are not walked into.
    bool isOneOfNodesOrDescendant(const QList<Ptr> &nodes) const;
    // True when this node lies below one of nodes; being one of them does not
    // count, and leaves of the list are skipped.
    bool isDescendantOfNodes(const QList<Ptr> &nodes) const;

protected:
    // A fresh node of the receiver's own class.
    virtual Ptr makeEmpty() const;

private:
    friend class SidebarTreeModel;

    QString m_nodeTitle;
    QList<Ptr> m_children;
    std::optional<QUrl> m_url;
    bool m_isLeaf = false;
    bool m_isBookmark = false;   // stored flag; isBookmark() is derived from the URL
    bool m_isDirectory = false;  // stored flag, not exposed
    BaseNode *m_parent = nullptr;  // kept by SidebarTreeModel
    int m_row = 0;                 // index among the parent's children, kept by SidebarTreeModel
};

// Every node that the sidebar makes: a BaseNode whose title starts empty.
class ChildNode : public BaseNode
{
public:
    ChildNode();
    static std::shared_ptr<ChildNode> create() { return std::make_shared<ChildNode>(); }

    QStringList nodeKeys() const override;
    QString description() const override;

protected:
    Ptr makeEmpty() const override;
};

// A request to add one node to the sidebar tree.
class TreeAdditionObj
{
public:
    TreeAdditionObj(const std::optional<QUrl> &nodeURL, const std::optional<QString> &nodeName,
                    bool selectItsParent)
        : nodeURL(nodeURL), nodeName(nodeName), selectItsParent(selectItsParent)
    {
    }

    std::optional<QUrl> nodeURL;      // the folder the node stands for
    std::optional<QString> nodeName;  // the node's title
    bool selectItsParent;             // after a leaf is inserted, select its parent again
};
