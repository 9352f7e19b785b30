#pragma once

#include "windows/framelesswindow.h"

// The About window: the program, its author, and links to the author's web
// page and e-mail address.
class Form2 final : public FramelessWindow
{
    Q_OBJECT

public:
    explicit Form2(QWidget *parent = nullptr);

    // The author's details, which the links open.
    static constexpr char16_t WebPage[] = u"https://www.example.org/morvex/programs/";
    static constexpr char16_t EmailAddress[] = u"morvex@example.org";

    ClickableLabel *Label1 = nullptr;
    ClickableLabel *Label2 = nullptr;
    ClickableLabel *Label7 = nullptr;
    ClickableLabel *Label8 = nullptr;
    ClickableLabel *Label3 = nullptr;
    ClickableLabel *Label4 = nullptr;
    ClickableLabel *Label6 = nullptr;
    ClickableLabel *Label5 = nullptr;

    void Label3_Click();
    void Label6_Click();
    void Label5_Click();

private:
    void Form_Load();
};
