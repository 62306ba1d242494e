#include "Fmain.h"

#include "ButtonPictures.h"
#include "ExcelExport.h"
#include "Excels.h"
#include "Dialogs.h"
#include "Errors.h"
#include "Fabout.h"
#include "Fonts.h"
#include "WindowPlacement.h"
#include "Fsetform.h"
#include "LCD_Lab.h"
#include "Program.h"
#include "ProgramStart.h"
#include "ReadingText.h"
#include "RecordList.h"
#include "RegIniFile.h"
#include "RegionalSettings.h"
#include "SpinEdit.h"
#include "StatusBar.h"
#include "TextExport.h"
#include "fexpsel.h"
#include "AppWindows.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QEvent>
#include <QFrame>
#include <QHeaderView>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QTime>
#include <QTimer>
#include <QToolButton>
#include <QTableView>

TMain* Main = nullptr;

namespace {

const QString SettingsKey = QStringLiteral("Software\\Trova\\5926");
const QString Device = QStringLiteral("Device");

} // namespace

TMain::TMain(MeterDriver& driver, QWidget* parent) : QMainWindow(parent), driver_(driver)
{
    setObjectName(QStringLiteral("Main"));
    setWindowTitle(QStringLiteral("5926 Data Collect"));
    setWindowIcon(pictures::windowIcon());
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                   | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint
                   | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setFont(pixelFont(QStringLiteral("MS Sans Serif"), 11));
    setAttribute(Qt::WA_DeleteOnClose, false);
    // A new main window: the program is not ending (again).
    SetProgramQuitting(false);

    // The menu bar sits above the client area; every position below is
    // measured from the client area's top-left corner.
    auto* client = new QWidget(this);
    client->setObjectName(QStringLiteral("client"));
    client->setFixedSize(505, 437);
    client->setAutoFillBackground(true);
    setCentralWidget(client);
    layout()->setSizeConstraint(QLayout::SetFixedSize);

    buildRecordPanel(client);
    buildDisplayPanel(client);
    buildButtons(client);
    buildMenu();

    Timer = new QTimer(this);
    Timer->setObjectName(QStringLiteral("Timer"));
    Timer->setTimerType(Qt::PreciseTimer);
    Timer->setInterval(1000);
    connect(Timer, &QTimer::timeout, this, [this] { RunCommand([this] { TimerTimer(); }, this); });

    Aexcel = new TAdvExcel(this);
    Aexcel->setObjectName(QStringLiteral("Aexcel"));
    Aexcel->setExeName(QStringLiteral("Excel"));
    Aexcel->setFilterReturnedData(false);
    Aexcel->setStripCRLF(false);
    Aexcel->OnBeginWait = [this](TCustomExcel*) { AexcelBeginWait(); };
    Aexcel->OnEndWait = [this](TCustomExcel*) { AexcelEndWait(); };

    // The create step.
    Settings = std::make_unique<TRegIniFile>(SettingsKey);
}

TMain::~TMain()
{
    Timer->stop();
    if (PortHandle != InvalidHandle) {
        CloseHandle(PortHandle);
        PortHandle = InvalidHandle;
    }
    // The destroy step.
    Settings.reset();
    if (Main == this)
        Main = nullptr;
}

void TMain::buildRecordPanel(QWidget* client)
{
    Panel1 = new QFrame(client);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setGeometry(0, 437 - 233, 505, 233);
    Panel1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    Panel1->setLineWidth(1);

    Records = new RecordList(this);
    // A table view: a tree view lays out every row again on each insert,
    // which a recording of weeks at one row a second cannot afford.
    ListView = new QTableView(Panel1);
    ListView->setObjectName(QStringLiteral("ListView"));
    ListView->setGeometry(1, 1, 503, 233 - 2 - 19);
    ListView->setFont(pixelFont(QStringLiteral("Arial"), 14));
    ListView->setModel(Records);
    ListView->setShowGrid(true);
    ListView->setWordWrap(false);
    ListView->setCornerButtonEnabled(false);
    ListView->setSelectionBehavior(QAbstractItemView::SelectRows);
    ListView->setSelectionMode(QAbstractItemView::SingleSelection);
    ListView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ListView->setSortingEnabled(false);
    QHeaderView* rows = ListView->verticalHeader();
    rows->hide();
    rows->setSectionResizeMode(QHeaderView::Fixed);
    rows->setDefaultSectionSize(QFontMetrics(ListView->font()).height() + 4);
    QHeaderView* header = ListView->horizontalHeader();
    header->setSectionsClickable(false);
    header->setSectionsMovable(false);
    header->setHighlightSections(false);
    header->setStretchLastSection(false);
    header->setDefaultAlignment(Qt::AlignCenter);
    const int widths[] = {100, 80, 100, 100, 100};
    for (int c = 0; c < 5; ++c)
        header->resizeSection(c, widths[c]);

    PopupMenu1 = new QMenu(ListView);
    PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
    Pop_Clear = PopupMenu1->addAction(QStringLiteral("清除所有记录"));
    Pop_Clear->setObjectName(QStringLiteral("Pop_Clear"));
    connect(Pop_Clear, &QAction::triggered, this, [this] { Pop_ClearClick(); });
    ListView->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(ListView, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        PopupMenu1->exec(ListView->viewport()->mapToGlobal(pos));
    });

    Stpl = new TStatusBar({400, 50}, Panel1);
    Stpl->setObjectName(QStringLiteral("Stpl"));
    Stpl->setGeometry(1, 233 - 1 - 19, 503, 19);
    Stpl->setPanelFont(1, countPanelFont());
}

void TMain::buildDisplayPanel(QWidget* client)
{
    Panel2 = new QWidget(client);
    Panel2->setObjectName(QStringLiteral("Panel2"));
    Panel2->setGeometry(0, 0, 261, 204);

    const QString times = QStringLiteral("Times New Roman");
    const QString sans = QStringLiteral("MS Sans Serif");
    auto label = [this](const char* name, const QString& text, int x, int y, int w, int h,
                        const QFont& font) {
        auto* l = new QLabel(text, Panel2);
        l->setObjectName(QString::fromLatin1(name));
        l->setGeometry(x, y, w, h);
        l->setFont(font);
        l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        return l;
    };
    auto lcd = [this](const char* name, int x, int y, int chars, TDotMatrix set, TPixelSize size) {
        auto* d = new TLCDLabel(Panel2);
        d->setObjectName(QString::fromLatin1(name));
        d->move(x, y);
        // In the order a form applies them: the pixel size before the dot size.
        d->setDotMatrix(set);
        d->setPixelSize(size);
        d->setPixelSpacing(1);
        d->setCharSpacing(2);
        d->setLineSpacing(2);
        d->setBorderSpace(5);
        d->setTextLines(1);
        d->setNoOfChars(chars);
        d->setPixelOff(0xAAAAAA);
        return d;
    };

    Label7 = label("Label7", QStringLiteral("Compensated Conductivity"), 7, 5, 152, 16, pixelFont(times, 14));
    Lab_Comp = lcd("Lab_Comp", 80, 23, 8, mat5x7, pix2x2);
    Label8 = label("Label8", QStringLiteral("mS"), 228, 36, 24, 20, pixelFont(sans, 16));
    Label5 = label("Label5", QStringLiteral("Uncompensated Conductivity"), 7, 61, 166, 16, pixelFont(times, 14));
    lab_uncomp = lcd("lab_uncomp", 80, 79, 8, mat5x7, pix2x2);
    Label9 = label("Label9", QStringLiteral("mS"), 228, 92, 24, 20, pixelFont(sans, 16));
    Label1 = label("Label1", QStringLiteral("ppt"), 60, 120, 31, 27, pixelFont(times, 24));
    lab_ppt = lcd("lab_ppt", 104, 118, 5, dos5x7, pix3x3);
    Label2 = label("Label2", QStringLiteral("Temp"), 40, 158, 55, 27, pixelFont(times, 24));
    lab_temp = lcd("lab_temp", 104, 156, 5, dos5x7, pix3x3);
    Label4 = label("Label4", QStringLiteral("o"), 226, 160, 6, 13, font());
    Label3 = label("Label3", QStringLiteral("C"), 230, 164, 16, 27, pixelFont(times, 24));
}

void TMain::buildButtons(QWidget* client)
{
    const QFont arial = pixelFont(QStringLiteral("Arial"), 15);
    auto button = [&](const char* name, const QString& caption, int x, int y, const QIcon& icon,
                      bool enabled) {
        auto* b = new QToolButton(client);
        b->setObjectName(QString::fromLatin1(name));
        b->setText(caption);
        b->setIcon(icon);
        b->setIconSize(QSize(16, 16));
        b->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
        b->setGeometry(x, y, 73, 57);
        b->setFont(arial);
        b->setEnabled(enabled);
        b->setFocusPolicy(Qt::StrongFocus);
        return b;
    };
    BitBtn1 = button("BitBtn1", QStringLiteral("Start"), 268, 36, pictures::retry(), false);
    BitBtn3 = button("BitBtn3", QStringLiteral("STOP"), 348, 36, pictures::no(), false);
    BitBtn4 = button("BitBtn4", QStringLiteral("Export"), 428, 36, pictures::exportData(), true);
    BitBtn5 = button("BitBtn5", QStringLiteral("Anaylize"), 268, 100, pictures::analyze(), false);
    BitBtn6 = button("BitBtn6", QStringLiteral("Setup"), 348, 100, pictures::setup(), true);
    BitBtn7 = button("BitBtn7", QStringLiteral("Exit"), 428, 100, pictures::close(), true);

    connect(BitBtn1, &QToolButton::clicked, this, [this] { RunCommand([this] { BitBtn1Click(); }, this); });
    connect(BitBtn3, &QToolButton::clicked, this, [this] { RunCommand([this] { BitBtn3Click(); }, this); });
    connect(BitBtn4, &QToolButton::clicked, this, [this] { RunCommand([this] { BitBtn4Click(); }, this); });
    connect(BitBtn6, &QToolButton::clicked, this, [this] { RunCommand([this] { BitBtn6Click(); }, this); });
    connect(BitBtn7, &QToolButton::clicked, this, [this] { BitBtn7Click(); });

    setTabOrder(ListView, Panel2);
    setTabOrder(Panel2, BitBtn1);
    setTabOrder(BitBtn1, BitBtn3);
    setTabOrder(BitBtn3, BitBtn4);
    setTabOrder(BitBtn4, BitBtn5);
    setTabOrder(BitBtn5, BitBtn6);
    setTabOrder(BitBtn6, BitBtn7);
}

void TMain::buildMenu()
{
    QMenuBar* bar = menuBar();
    bar->setObjectName(QStringLiteral("MainMenu1"));
    auto item = [this](QMenu* menu, const char* name, const QString& caption, const char* shortcut,
                       bool enabled) {
        QAction* a = menu->addAction(caption);
        a->setObjectName(QString::fromLatin1(name));
        if (shortcut)
            a->setShortcut(QKeySequence(QString::fromLatin1(shortcut)));
        a->setShortcutContext(Qt::WindowShortcut);
        a->setEnabled(enabled);
        addAction(a);
        return a;
    };
    auto command = [this](QAction* a, void (TMain::*handler)()) {
        connect(a, &QAction::triggered, this, [this, handler] { RunCommand([this, handler] { (this->*handler)(); }, this); });
    };

    QMenu* commandMenu = bar->addMenu(QStringLiteral("&Command"));
    Mu_Save = item(commandMenu, "Mu_Save", QStringLiteral("Save Data"), "Ctrl+S", false);
    Mu_Open = item(commandMenu, "Mu_Open", QStringLiteral("Open Data"), "Ctrl+O", false);
    commandMenu->addSeparator();
    Mu_Start = item(commandMenu, "Mu_Start", QStringLiteral("Begin Record"), "Ctrl+A", true);
    Mu_Stop = item(commandMenu, "Mu_Stop", QStringLiteral("Stop Record"), "Ctrl+T", true);
    MU_Setup = item(commandMenu, "MU_Setup", QStringLiteral("System Steup"), "Ctrl+U", true);
    commandMenu->addSeparator();
    Mu_Exit = item(commandMenu, "Mu_Exit", QStringLiteral("Exit system"), nullptr, true);

    QMenu* exportMenu = bar->addMenu(QStringLiteral("&Data Export"));
    Mu_Export_Excel = item(exportMenu, "Mu_Export_Excel", QStringLiteral("Export to &Execl"), nullptr, true);
    exportMenu->addSeparator();
    Mu_Export_Text = item(exportMenu, "Mu_Export_Text", QStringLiteral("Export to &Text file"), nullptr, true);

    QMenu* helpMenu = bar->addMenu(QStringLiteral("&Help"));
    Mu_Contents = item(helpMenu, "Mu_Contents", QStringLiteral("&Contents"), nullptr, false);
    Mu_Index = item(helpMenu, "Mu_Index", QStringLiteral("&Index"), nullptr, false);
    helpMenu->addSeparator();
    Mu_about = item(helpMenu, "Mu_about", QStringLiteral("&About"), nullptr, true);

    command(Mu_Start, &TMain::BitBtn1Click);
    command(Mu_Stop, &TMain::BitBtn3Click);
    command(MU_Setup, &TMain::BitBtn6Click);
    command(Mu_Export_Excel, &TMain::Mu_Export_ExcelClick);
    command(Mu_Export_Text, &TMain::Mu_Export_TextClick);
    command(Mu_about, &TMain::Mu_aboutClick);
    connect(Mu_Exit, &QAction::triggered, this, [this] { BitBtn7Click(); });
}

void TMain::ShowMainWindow()
{
    RunCommand([this] { FormShow(); }, this);
    if (ProgramQuitting())
        return;
    adjustSize();
    CentreWhenShown(this, Centring::FirstShow);
    show();
}

void TMain::FormShow()
{
    Timer->stop();

    if (Settings->SectionExists(Device)) {
        Setform->st_port->setText(Settings->ReadString(Device, QStringLiteral("Port"), QStringLiteral("1")));
        Setform->ST_speed->setText(Settings->ReadString(Device, QStringLiteral("Speed"), QStringLiteral("4800")));
        Setform->ST_RT->setValue(Settings->ReadInteger(Device, QStringLiteral("RT"), 1));
    } else {
        Setform->Run();
        if (ProgramQuitting())
            return; // closed meanwhile: nothing is saved
        Settings->WriteString(Device, QStringLiteral("Port"), Setform->st_port->text());
        Settings->WriteString(Device, QStringLiteral("Speed"), Setform->ST_speed->text());
        Settings->WriteInteger(Device, QStringLiteral("RT"), Setform->ST_RT->Value());
    }

    Timer->setInterval(Setform->ST_RT->Value() * 1000);

    const int speed = StrToInt(Setform->ST_speed->text());
    const int port = StrToInt(Setform->st_port->text());
    if (TestPort(port, speed)) {
        BitBtn1->setEnabled(true);
    } else {
        Dialogs::instance().message(this, QStringLiteral("Error"),
                                    QStringLiteral("Sorry,Please Re-Setup the system"),
                                    Dialogs::Icon::Error, Dialogs::Buttons::Ok);
    }
}

bool TMain::TestPort(int port, int speed)
{
    if (!driver_.OpenMeterPort(port, speed, PortHandle)) {
        PortHandle = InvalidHandle;
        return false;
    }
    CloseHandle(PortHandle);
    PortHandle = InvalidHandle;
    return true;
}

void TMain::BitBtn6Click()
{
    // The port test below closes and reopens the port; a recording must never
    // go on with a closed port, so it ends first, exactly as STOP ends it.
    if (recording_)
        BitBtn3Click();

    Setform->Run();
    if (ProgramQuitting())
        return; // closed meanwhile: nothing is saved
    Timer->setInterval(Setform->ST_RT->Value() * 1000);
    Settings->WriteString(Device, QStringLiteral("Port"), Setform->st_port->text());
    Settings->WriteString(Device, QStringLiteral("Speed"), Setform->ST_speed->text());
    Settings->WriteInteger(Device, QStringLiteral("RT"), Setform->ST_RT->Value());
    if (PortHandle != InvalidHandle) {
        CloseHandle(PortHandle);
        PortHandle = InvalidHandle;
    }
    const int port = StrToInt(Setform->st_port->text());
    const int speed = StrToInt(Setform->ST_speed->text());
    if (TestPort(port, speed)) {
        BitBtn1->setEnabled(true);
    } else {
        Dialogs::instance().message(this, QStringLiteral("Error"),
                                    QStringLiteral("COM Port is not available"),
                                    Dialogs::Icon::Error, Dialogs::Buttons::Ok);
        BitBtn1->setEnabled(false);
    }
}

void TMain::setRecordingButtons(bool recording)
{
    BitBtn3->setEnabled(recording);
    BitBtn1->setEnabled(!recording);
    BitBtn4->setEnabled(!recording);
    BitBtn6->setEnabled(!recording);
}

void TMain::BitBtn1Click()
{
    // A second open would lose the recording's handle.
    if (recording_)
        return;
    const int speed = StrToInt(Setform->ST_speed->text());
    const int port = StrToInt(Setform->st_port->text());
    if (!driver_.OpenMeterPort(port, speed, PortHandle)) {
        PortHandle = InvalidHandle;
        Dialogs::instance().message(this, QStringLiteral("Error"),
                                    QStringLiteral("Found Errors,Please Resetup!"),
                                    Dialogs::Icon::Error, Dialogs::Buttons::Ok);
        return;
    }
    recording_ = true;
    if (Records->rowCount() > 0) {
        const auto answer = Dialogs::instance().message(
            this, QStringLiteral("Information"), QStringLiteral("Do you want to clear current list?"),
            Dialogs::Icon::Information, Dialogs::Buttons::YesNo);
        if (answer == Dialogs::Answer::Yes)
            Records->clear();
        // The question runs a nested event loop: a Stop or Setup command
        // there has already ended this recording and closed its port.
        if (!recording_)
            return;
    }
    Stpl->setText(0, QStringLiteral("Start Record"));
    Stpl->setText(1, QStringLiteral("Total:"));
    setRecordingButtons(true);
    AcquisitionTick();
    Timer->start();
}

void TMain::BitBtn3Click()
{
    // Outside a recording there is no port to close and nothing to stop.
    if (!recording_)
        return;
    Timer->stop();
    setRecordingButtons(false);
    Stpl->setText(0, QStringLiteral("Collect is complete"));
    CloseHandle(PortHandle);
    PortHandle = InvalidHandle;
    recording_ = false;
}

void TMain::TimerTimer()
{
    AcquisitionTick();
}

void TMain::AcquisitionTick()
{
    driver_.ReadSalinity(PortHandle, ModelCode, Salinity);
    driver_.ReadCompensatedConductivity(PortHandle, ModelCode, CompConductivity);
    driver_.ReadUncompensatedConductivity(PortHandle, ModelCode, UncompConductivity);
    driver_.ReadTemperature(PortHandle, ModelCode, Temperature);
    CompConductivity.Value *= 1000;
    UncompConductivity.Value *= 1000;

    const RegionalSettings& region = RegionalSettings::current();
    const QChar separator = region.decimalSeparator;
    const ReadingTexts salinity = textsFor(Quantity::Salinity, Salinity.Value, Salinity.Status, separator);
    const ReadingTexts comp = textsFor(Quantity::CompConductivity, CompConductivity.Value,
                                       CompConductivity.Status, separator);
    const ReadingTexts uncomp = textsFor(Quantity::UncompConductivity, UncompConductivity.Value,
                                         UncompConductivity.Status, separator);
    const ReadingTexts temperature = textsFor(Quantity::Temperature, Temperature.Value,
                                              Temperature.Status, separator);

    CurrentRow = Records->appendRow(timeOfDayText(QTime::currentTime(), region),
                                    {salinity.cell, comp.cell, uncomp.cell, temperature.cell});
    lab_ppt->setCaption(salinity.display);
    Lab_Comp->setCaption(comp.display);
    lab_uncomp->setCaption(uncomp.display);
    lab_temp->setCaption(temperature.display);
    Stpl->setText(1, QStringLiteral("Total:%1").arg(Records->rowCount()));
}

void TMain::Pop_ClearClick()
{
    Records->clear();
    CurrentRow = -1;
}

void TMain::BitBtn4Click()
{
    switch (expsel->Execute()) {
    case Texpsel::ChoiceExcel: ExportToExcel(); break;
    case Texpsel::ChoiceText: ExportToText(); break;
    default: break;
    }
}

void TMain::Mu_Export_TextClick()
{
    ExportToText();
}

void TMain::Mu_Export_ExcelClick()
{
    ExportToExcel();
}

void TMain::ExportToText()
{
    ::ExportToText(this, Savedialog, *Records, [this](const QString& text) { showProgressText(text); });
}

void TMain::ExportToExcel()
{
    ::ExportToExcel(this, *Aexcel, *Records, [this](const QString& text) { showProgressText(text); });
}

void TMain::showProgressText(const QString& text)
{
    // The exports do not return to the event loop between their steps, so
    // their progress texts are painted at once.
    Stpl->setText(0, text);
    Stpl->repaint();
}

void TMain::AexcelBeginWait()
{
    Stpl->setText(0, QStringLiteral("Now connect excel ,Please wait..!"));
}

void TMain::AexcelEndWait()
{
    Stpl->setText(0, QStringLiteral("data export complete,wait...!"));
}

void TMain::BitBtn7Click()
{
    close();
}

void TMain::Mu_aboutClick()
{
    About->SecretPanel1->setActive(true);
    Dialogs::instance().execModal(*About);
}

void TMain::closeEvent(QCloseEvent* event)
{
    // Also in the middle of a recording or of an export's wait for the
    // spreadsheet: no more ticks, every wait ends, and the program with them.
    Timer->stop();
    QMainWindow::closeEvent(event);
    EndProgram();
}

void TMain::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::LocaleChange)
        RegionalSettings::reload();
    QMainWindow::changeEvent(event);
}
