#pragma once
// The main window: four live displays, the record list, six command buttons,
// the menus and the status bar. It owns the settings store, the port handle,
// the latest reading, the record list, the timer and the spreadsheet client.
#include "APIimp.h"
#include "Dialogs.h"
#include "Handles.h"

#include <QMainWindow>
#include <memory>

class QAction;
class QFrame;
class QLabel;
class QMenu;
class QTimer;
class QToolButton;
class QTableView;
class RecordList;
class TLCDLabel;
class TRegIniFile;
class TStatusBar;
class TAdvExcel;

class TMain : public QMainWindow {
    Q_OBJECT
public:
    // The create step: opens the settings store. `driver` outlives the window.
    explicit TMain(MeterDriver& driver, QWidget* parent = nullptr);
    // The destroy step: releases the settings store.
    ~TMain() override;

    // Runs the show step, then shows the window centred on the screen. Errors
    // of the show step are reported and the window is shown all the same.
    void ShowMainWindow();

    // Owned state.
    std::unique_ptr<TRegIniFile> Settings;
    THandle PortHandle = InvalidHandle;
    MeasuredValue Salinity{};
    MeasuredValue CompConductivity{};
    MeasuredValue UncompConductivity{};
    MeasuredValue Temperature{};
    int CurrentRow = -1;

    // Controls, by their form names.
    QWidget* Panel2 = nullptr;
    QLabel* Label7 = nullptr;
    TLCDLabel* Lab_Comp = nullptr;
    QLabel* Label8 = nullptr;
    QLabel* Label5 = nullptr;
    TLCDLabel* lab_uncomp = nullptr;
    QLabel* Label9 = nullptr;
    QLabel* Label1 = nullptr;
    TLCDLabel* lab_ppt = nullptr;
    QLabel* Label2 = nullptr;
    TLCDLabel* lab_temp = nullptr;
    QLabel* Label4 = nullptr;
    QLabel* Label3 = nullptr;
    QToolButton* BitBtn1 = nullptr; // Start
    QToolButton* BitBtn3 = nullptr; // STOP
    QToolButton* BitBtn4 = nullptr; // Export
    QToolButton* BitBtn5 = nullptr; // Anaylize
    QToolButton* BitBtn6 = nullptr; // Setup
    QToolButton* BitBtn7 = nullptr; // Exit
    QFrame* Panel1 = nullptr;
    QTableView* ListView = nullptr;
    RecordList* Records = nullptr;
    TStatusBar* Stpl = nullptr;
    QMenu* PopupMenu1 = nullptr;
    QAction* Pop_Clear = nullptr;
    QTimer* Timer = nullptr;
    TSaveDialog Savedialog{QStringLiteral("输出文件名"), QStringLiteral("Text file (*.txt)|*.txt")};
    TAdvExcel* Aexcel = nullptr;

    // Main menu items.
    QAction* Mu_Save = nullptr;
    QAction* Mu_Open = nullptr;
    QAction* Mu_Start = nullptr;
    QAction* Mu_Stop = nullptr;
    QAction* MU_Setup = nullptr;
    QAction* Mu_Exit = nullptr;
    QAction* Mu_Export_Excel = nullptr;
    QAction* Mu_Export_Text = nullptr;
    QAction* Mu_Contents = nullptr;
    QAction* Mu_Index = nullptr;
    QAction* Mu_about = nullptr;

    bool Recording() const { return recording_; }

    // Steps and commands.
    void FormShow();
    void BitBtn1Click(); // Start
    void BitBtn3Click(); // Stop
    void TimerTimer();
    void AcquisitionTick();
    void BitBtn4Click(); // Export
    void BitBtn6Click(); // Setup
    void BitBtn7Click(); // Exit
    void Mu_Export_TextClick();
    void Mu_Export_ExcelClick();
    void ExportToText();
    void ExportToExcel();
    void Pop_ClearClick();
    void Mu_aboutClick();
    void AexcelBeginWait();
    void AexcelEndWait();

protected:
    void changeEvent(QEvent* event) override;
    // Closing the main window ends the program, in every state.
    void closeEvent(QCloseEvent* event) override;

private:
    void buildDisplayPanel(QWidget* client);
    void buildButtons(QWidget* client);
    void buildMenu();
    void buildRecordPanel(QWidget* client);
    // Opens and at once closes the configured port; true when it opened.
    bool TestPort(int port, int speed);
    void setRecordingButtons(bool recording);
    void showProgressText(const QString& text);

    MeterDriver& driver_;
    bool recording_ = false;
};

extern TMain* Main;
