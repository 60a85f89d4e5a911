#pragma once

#include "ui/TreeView.h"

#include <QHash>
#include <QObject>
#include <QString>

class QTreeWidget;
class QTreeWidgetItem;
class QWidget;

namespace stonecall {

// The tree view over a QTreeWidget, nodes found through a key index.
class QtTreeView final : public QObject, public TreeView {
    Q_OBJECT
public:
    explicit QtTreeView(QWidget* parent = nullptr);

    QWidget* widget() const;
    // Between these, changes are not painted.
    void beginUpdate();
    void endUpdate();

    void clear() override;
    void add(std::string_view parentKey, std::string_view key, std::string_view text) override;
    void remove(std::string_view key) override;
    std::size_t count() const override;
    bool contains(std::string_view key) const override;
    std::string text(std::string_view key) const override;
    void setText(std::string_view key, std::string_view text) override;
    std::optional<int> tag(std::string_view key) const override;
    void setTag(std::string_view key, std::optional<int> tag) override;
    std::string parentKey(std::string_view key) const override;
    std::size_t childCount(std::string_view key) const override;
    std::vector<std::string> childKeys(std::string_view parentKey) const override;
    void setColours(std::string_view key, Rgb fore, Rgb back) override;
    void setExpanded(std::string_view key, bool expanded) override;
    bool isExpanded(std::string_view key) const override;
    void setSorted(std::string_view key, bool sorted) override;
    std::optional<std::string> selectedKey() const override;

signals:
    void doubleClicked();

private:
    QTreeWidgetItem* item(std::string_view key) const;

    QTreeWidget* tree_;
    QHash<QString, QTreeWidgetItem*> byKey_;
    int updateDepth_ = 0;
};

} // namespace stonecall
