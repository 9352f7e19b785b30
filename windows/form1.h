#pragma once

#include "catalogue/datafolder.h"
#include "networkconf/networksettings.h"
#include "serving/cataloguechange.h"
#include "windows/form2.h"
#include "windows/form3.h"
#include "windows/framelesswindow.h"

#include <QPointer>

#include <memory>

class Catalogue;
class ClickableLabel;
class LinkServer;
class ServerCore;
class QLabel;
struct CatalogueEdit;
class QLineEdit;
class QListWidget;
class QPushButton;
class QTimer;

namespace MorvexAIMOCX {
class AIM;
}

// The main window: the catalogue and its editing, the serving switch, and the
// messenger the program serves through.
class Form1 final : public FramelessWindow
{
    Q_OBJECT

public:
    // Serves the one room of the messenger given (the local room), which the
    // window owns from here on; without one, serve() names the rooms.
    Form1(const DataFolder &folder, MorvexAIMOCX::AIM *messenger, QWidget *parent = nullptr);
    ~Form1() override;

    // Serves every room of the network settings, and the web face when they
    // set one; what is wrong with them otherwise.
    [[nodiscard]] QString serve(const NetworkConfig &settings);

    // Rebuilds the list pages from the descriptions as they are now.
    void BuildList();
    // Appends one empty list page.
    void BuildList2();

    [[nodiscard]] LinkServer &server();
    [[nodiscard]] ServerCore &core() { return *m_core; }
    [[nodiscard]] Catalogue &catalogue();

    MorvexAIMOCX::AIM *AIM1 = nullptr;
    QLineEdit *Text2 = nullptr;
    QListWidget *List2 = nullptr;
    QPushButton *Command3 = nullptr;
    QTimer *Timer1 = nullptr;
    QPushButton *Command2 = nullptr;
    QPushButton *Command1 = nullptr;
    QLineEdit *Text1 = nullptr;
    QListWidget *List1 = nullptr;
    ClickableLabel *Label10 = nullptr;
    ClickableLabel *Label9 = nullptr;
    ClickableLabel *Label8 = nullptr;
    ClickableLabel *Label7 = nullptr;
    ClickableLabel *Label6 = nullptr;
    ClickableLabel *Label5 = nullptr;
    ClickableLabel *Label1 = nullptr;
    ClickableLabel *Label4 = nullptr;
    ClickableLabel *Label3 = nullptr;
    ClickableLabel *Label2 = nullptr;

    // The handlers, public so that the keyboard and the tests reach the same code.
    void Label2_Click();
    void Command2_Click();
    void Timer1_Timer();
    void Label3_Click();
    void Command3_Click();
    void Label5_Click();
    void Command1_Click();
    void List1_Click();
    void List2_Click();
    void List1_DblClick();
    void List2_DblClick();
    void Label6_Click();
    void Label7_Click();
    void Label8_Click();
    void Label9_Click();

    // The About window and the message editor while they are open.
    [[nodiscard]] Form2 *aboutWindow() const { return m_form2; }
    [[nodiscard]] Form3 *messageEditor() const { return m_form3; }

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void createControls();
    void Form_Load();
    // Saves the catalogue; false when the operator chose to keep the window open.
    [[nodiscard]] bool Form_Unload();
    void showItemCount();
    // The list boxes show the catalogue's rows as they are now.
    void showRows();
    // Adds the item in the two boxes; true when it was added.
    bool addItemFromBoxes();
    // Shows what an edit has to say, and when it could not be saved that the window keeps it.
    void tellEdit(const CatalogueEdit &edit);
    void tellChange(const CatalogueChange::Outcome &outcome);
    [[nodiscard]] CatalogueChange::Target changeTarget();
    void removeSelectedItem();
    // Timer1 is the first room's advertisement timer; the rooms' states are the switch's tooltip.
    void followRooms();
    static void mirrorSelection(QListWidget *from, QListWidget *to);

    std::unique_ptr<ServerCore> m_core;
    QPointer<Form2> m_form2;
    QPointer<Form3> m_form3;
};
