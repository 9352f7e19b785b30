#pragma once

#include "catalogue/datafolder.h"

#include <QWidget>

#include <memory>

class Catalogue;
class ListWidgetRows;
class QLabel;
class QListWidget;

// The main window: the catalogue's two lists and the item count.
class Form1 final : public QWidget
{
    Q_OBJECT

public:
    explicit Form1(const DataFolder &folder, QWidget *parent = nullptr);
    ~Form1() override;

    // Rebuilds the list pages from the descriptions as they are now.
    void BuildList();
    // Appends one empty list page.
    void BuildList2();

    [[nodiscard]] Catalogue &catalogue() { return *m_catalogue; }

    QListWidget *List1 = nullptr;
    QListWidget *List2 = nullptr;
    QLabel *Label10 = nullptr;

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void Form_Load();
    // Saves the catalogue; false when the operator chose to keep the window open.
    [[nodiscard]] bool Form_Unload();
    void showItemCount();

    std::unique_ptr<ListWidgetRows> m_descriptionRows;
    std::unique_ptr<ListWidgetRows> m_addressRows;
    std::unique_ptr<Catalogue> m_catalogue;
};
