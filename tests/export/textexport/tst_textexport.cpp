#include "Fpross.h"
#include "RecordRows.h"
#include "TestSupport.h"
#include "TextExport.h"
#include "fexpsel.h"

#include "Errors.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScopeGuard>
#include <QScreen>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>
#include <functional>

#ifdef Q_OS_UNIX
#include <chrono>
#include <csignal>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#endif

namespace {

const QString SaveTitle = QStringLiteral("输出文件名");
const QString SaveFilter = QStringLiteral("Text file (*.txt)|*.txt");
const QString NowExporting = QStringLiteral("Now Export data to text file ,Please wait...!");
const QString Complete = QStringLiteral("Date export complete!");
const QByteArray Header = "time,ppt,Compensated Conductivity,UnCompensated Conductivity,Temp\r\n";

class FakeRows final : public RecordRows {
public:
    QList<QList<QByteArray>> data;
    mutable int rowCountCalls = 0;
    mutable int cellCalls = 0;
    // Called before every cell is handed out, while the export runs.
    std::function<void(int row, int column)> onCell;

    int rowCount() const override
    {
        ++rowCountCalls;
        return int(data.size());
    }
    QByteArray cell(int row, int column) const override
    {
        ++cellCalls;
        if (onCell)
            onCell(row, column);
        return data.at(row).at(column);
    }

    void addRow(const QByteArray& caption, const QByteArray& a, const QByteArray& b,
                const QByteArray& c, const QByteArray& d)
    {
        data.append({caption, a, b, c, d});
    }
    // Rows of the shape the recording makes, numbered so each line differs.
    void addReadings(int n)
    {
        for (int i = 0; i < n; ++i) {
            addRow(QByteArray("10:") + QByteArray::number(i / 60 % 60).rightJustified(2, '0') + ':'
                       + QByteArray::number(i % 60).rightJustified(2, '0'),
                   QByteArray::number(35.0 + i * 0.01, 'f', 2),
                   QByteArray::number(53.0 + i * 0.1, 'f', 3), "Er-1",
                   QByteArray::number(20.0 + i * 0.05, 'f', 1));
        }
    }
    QByteArray expectedFile(int upTo = -1) const
    {
        QByteArray out = Header;
        const int n = upTo < 0 ? int(data.size()) : upTo;
        for (int i = 0; i < n; ++i)
            out += data[i].join(',') + "\r\n";
        return out;
    }
};

QByteArray readAll(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray("<missing>");
    return f.readAll();
}

// What a file that could take at most `limit` bytes of `full` must hold:
// the lines that fit whole, and nothing of the next one.
QByteArray wholeLinesWithin(const QByteArray& full, qint64 limit)
{
    if (limit < 2)
        return QByteArray();
    const qsizetype end = full.lastIndexOf("\r\n", qsizetype(qMin<qint64>(limit, full.size()) - 2));
    return end < 0 ? QByteArray() : full.left(end + 2);
}

// Every byte belongs to a CR LF-terminated line, and the lines are the
// first ones of `full`.
bool onlyFirstWholeLines(const QByteArray& got, const QByteArray& full)
{
    return full.startsWith(got) && (got.isEmpty() || got.endsWith("\r\n"));
}

#ifdef Q_OS_UNIX
// Runs `job` in a child process that may write files of at most `limit`
// bytes (a disk that fills up, without root) and returns its exit code, or
// -1 when it did not end normally within a minute.
int runWithFileSizeLimit(rlim_t limit, const std::function<int()>& job)
{
    const pid_t child = ::fork();
    if (child < 0)
        return -1;
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit capped{};
        ::getrlimit(RLIMIT_FSIZE, &capped);
        capped.rlim_cur = limit;
        if (::setrlimit(RLIMIT_FSIZE, &capped) != 0)
            ::_exit(100);
        ::_exit(job());
    }
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
    while (::waitpid(child, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(child, SIGKILL);
            ::waitpid(child, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
#endif

QString hex(QRgb rgb)
{
    return QString::number(rgb & 0xFFFFFF, 16);
}

} // namespace

class TestTextExport : public QObject {
    Q_OBJECT

private:
    QTemporaryDir dir_;
    QStringList status_;
    TSaveDialog saveDialog_{SaveTitle, SaveFilter};
    std::function<void(const QString&)> setStatus0()
    {
        return [this](const QString& s) { status_.append(s); };
    }
    QString path(const QString& name) const { return dir_.filePath(name); }

private slots:
    void init()
    {
        status_.clear();
        QVERIFY(dir_.isValid());
        QCOMPARE(process, nullptr);
    }
    void cleanup() { DestroyProcessWindow(); }

    // ---- The export choice dialog -------------------------------------

    void choiceDialog_window()
    {
        Texpsel d;
        QCOMPARE(d.objectName(), QStringLiteral("expsel"));
        QCOMPARE(d.windowTitle(), QStringLiteral("Select"));
        QCOMPARE(d.minimumSize(), QSize(276, 123));
        QCOMPARE(d.maximumSize(), QSize(276, 123));
        const Qt::WindowFlags f = d.windowFlags();
        QVERIFY(f.testFlag(Qt::WindowCloseButtonHint));
        QVERIFY(!f.testFlag(Qt::WindowMinimizeButtonHint));
        QVERIFY(!f.testFlag(Qt::WindowMaximizeButtonHint));
        QVERIFY(!f.testFlag(Qt::WindowContextHelpButtonHint));
        QVERIFY(d.RD1->isChecked());
        QVERIFY(!d.RD2->isChecked());
        QCOMPARE(d.ExportChoice, quint8(0));
        for (QPushButton* b : {d.Button2, d.Button3}) {
            QVERIFY2(!b->isDefault() && !b->autoDefault(), qPrintable(b->objectName()));
        }
        // Tab order, starting where the focus lands when the dialog opens.
        QStringList tabOrder;
        for (QWidget* w = d.nextInFocusChain(); w != &d; w = w->nextInFocusChain()) {
            if (w->focusPolicy() & Qt::TabFocus)
                tabOrder << w->objectName();
        }
        QCOMPARE(tabOrder, QStringList({"Button2", "Button3", "RD1", "RD2"}));
        QCOMPARE(d.palette().color(QPalette::Window), d.palette().color(QPalette::Button));
        QVERIFY(d.autoFillBackground());
    }

    void choiceDialog_controls_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QRect>("geometry");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("family");
        QTest::addColumn<int>("pixelSize");
        QTest::addColumn<QColor>("colour");
        const QString song = QStringLiteral("宋体");
        QTest::newRow("RxLabel1") << "RxLabel1" << QRect(13, 4, 251, 24)
                                  << "PLEASE SELECT FILE TYPE" << "MS Sans Serif" << 19
                                  << QColor(0, 0, 0x80);
        QTest::newRow("RD1") << "RD1" << QRect(44, 32, 193, 17) << "Text File with ','" << song
                             << 15 << QColor(0x80, 0, 0);
        QTest::newRow("RD2") << "RD2" << QRect(44, 60, 189, 17) << "Microsoft Excel " << song
                             << 15 << QColor(0x80, 0, 0);
        QTest::newRow("Button2") << "Button2" << QRect(48, 96, 86, 25) << "&Output" << song << 15
                                 << QColor(Qt::black);
        QTest::newRow("Button3") << "Button3" << QRect(141, 96, 86, 25) << "&Cancel" << song << 15
                                 << QColor(Qt::black);
        QTest::newRow("Bevel1") << "Bevel1" << QRect(4, 80, 263, 10) << QString() << QString() << 0
                                << QColor();
    }
    void choiceDialog_controls()
    {
        QFETCH(QString, name);
        QFETCH(QRect, geometry);
        QFETCH(QString, text);
        QFETCH(QString, family);
        QFETCH(int, pixelSize);
        QFETCH(QColor, colour);
        Texpsel d;
        QWidget* w = d.findChild<QWidget*>(name);
        QVERIFY(w);
        QCOMPARE(w->geometry(), geometry);
        if (family.isEmpty())
            return;
        QString shown;
        if (auto* l = qobject_cast<QLabel*>(w))
            shown = l->text();
        else if (auto* b = qobject_cast<QAbstractButton*>(w))
            shown = b->text();
        QCOMPARE(shown, text);
        QCOMPARE(w->font().family(), family);
        QCOMPARE(w->font().pixelSize(), pixelSize);
        const QPalette::ColorRole role =
            qobject_cast<QPushButton*>(w) ? QPalette::ButtonText : QPalette::WindowText;
        QCOMPARE(hex(w->palette().color(role).rgb()), hex(colour.rgb()));
    }

    void choiceDialog_bevelIsRaisedBottomLine()
    {
        Texpsel d;
        QImage img(d.Bevel1->size(), QImage::Format_RGB32);
        img.fill(Qt::magenta);
        d.Bevel1->render(&img, QPoint(), QRegion(), QWidget::RenderFlags());
        const QPalette& pal = d.Bevel1->palette();
        QCOMPARE(hex(pixelAt(img, 100, 8)), hex(pal.color(QPalette::Light).rgb()));
        QCOMPARE(hex(pixelAt(img, 100, 9)), hex(pal.color(QPalette::Dark).rgb()));
        QCOMPARE(hex(pixelAt(img, 100, 2)), hex(QColor(Qt::magenta).rgb()));
    }

    void choiceDialog_result_data()
    {
        QTest::addColumn<bool>("pickExcel");
        QTest::addColumn<QString>("action");
        QTest::addColumn<int>("expected");
        QTest::newRow("Output, text file") << false << "output" << 2;
        QTest::newRow("Output, Excel") << true << "output" << 1;
        QTest::newRow("Cancel, text file") << false << "cancel" << 0;
        QTest::newRow("Cancel, Excel") << true << "cancel" << 0;
        QTest::newRow("close box") << false << "close" << 0;
        QTest::newRow("close box, Excel") << true << "close" << 0;
    }
    void choiceDialog_result()
    {
        QFETCH(bool, pickExcel);
        QFETCH(QString, action);
        QFETCH(int, expected);
        RecordingDialogs rec;
        Texpsel d;
        // A result left over from the last use must not leak into this one.
        d.ExportChoice = 2;
        bool centred = false;
        QWidget* focused = nullptr;
        rec.modalHandlers.push_back([&](QDialog& dlg) {
            const QRect screen = dlg.screen()->geometry();
            centred = (dlg.frameGeometry().center() - screen.center()).manhattanLength() <= 2;
            if (QTest::qWaitForWindowActive(&dlg, 1000))
                focused = QApplication::focusWidget();
            if (pickExcel)
                QTest::mouseClick(d.RD2, Qt::LeftButton);
            if (action == QLatin1String("output"))
                QTest::mouseClick(d.Button2, Qt::LeftButton);
            else if (action == QLatin1String("cancel"))
                QTest::mouseClick(d.Button3, Qt::LeftButton);
            else
                dlg.close();
        });
        QCOMPARE(int(d.Execute()), expected);
        QCOMPARE(int(d.ExportChoice), expected);
        QVERIFY(!d.isVisible());
        QVERIFY(centred);
        QCOMPARE(focused, d.Button2);
        QCOMPARE(rec.shown.size(), 1);
        QCOMPARE(rec.shown[0].kind, QStringLiteral("modal"));
        QCOMPARE(rec.shown[0].title, QStringLiteral("Select"));
    }

    void choiceDialog_keepsRadioStateAndResetsChoice()
    {
        RecordingDialogs rec;
        Texpsel d;
        rec.modalHandlers.push_back([&](QDialog&) {
            QTest::mouseClick(d.RD2, Qt::LeftButton);
            QTest::mouseClick(d.Button2, Qt::LeftButton);
        });
        rec.modalHandlers.push_back([&](QDialog&) { QTest::mouseClick(d.Button2, Qt::LeftButton); });
        rec.modalHandlers.push_back([&](QDialog& dlg) { dlg.close(); });
        rec.modalHandlers.push_back([&](QDialog&) {
            QTest::mouseClick(d.RD1, Qt::LeftButton);
            QTest::mouseClick(d.Button2, Qt::LeftButton);
        });
        QCOMPARE(int(d.Execute()), 1);
        QCOMPARE(int(d.Execute()), 1); // Excel still chosen
        QVERIFY(d.RD2->isChecked());
        QCOMPARE(int(d.Execute()), 0); // closed: the earlier 1 is gone
        QCOMPARE(int(d.Execute()), 2);
    }

    void choiceDialog_keysDoNotChoose()
    {
        RecordingDialogs rec;
        Texpsel d;
        bool stillOpen = false;
        rec.modalHandlers.push_back([&](QDialog& dlg) {
            // Neither button is the default or the cancel button.
            QTest::keyClick(&dlg, Qt::Key_Escape);
            QTest::keyClick(&dlg, Qt::Key_Return);
            stillOpen = dlg.isVisible();
            QTest::mouseClick(d.Button3, Qt::LeftButton);
        });
        QCOMPARE(int(d.Execute()), 0);
        QVERIFY(stillOpen);
    }

    // ---- The progress window ------------------------------------------

    void progressWindow_layout()
    {
        Tprocess w;
        QCOMPARE(w.objectName(), QStringLiteral("process"));
        QCOMPARE(w.windowTitle(), QStringLiteral("Export Progress"));
        QCOMPARE(w.minimumSize(), QSize(288, 66));
        QCOMPARE(w.maximumSize(), QSize(288, 66));
        const Qt::WindowFlags f = w.windowFlags();
        QCOMPARE(f & Qt::WindowType_Mask, Qt::Tool);
        QVERIFY(f.testFlag(Qt::CustomizeWindowHint));
        QVERIFY(f.testFlag(Qt::WindowTitleHint));
        QVERIFY(!f.testFlag(Qt::WindowCloseButtonHint));
        QVERIFY(!f.testFlag(Qt::WindowSystemMenuHint));
        QVERIFY(!f.testFlag(Qt::WindowMinimizeButtonHint));
        QVERIFY(!f.testFlag(Qt::WindowMaximizeButtonHint));
        QCOMPARE(w.palette().color(QPalette::Window), w.palette().color(QPalette::Button));

        QCOMPARE(w.RxLabel1->objectName(), QStringLiteral("RxLabel1"));
        QCOMPARE(w.RxLabel1->text(), QStringLiteral("Data Exporting  Now....."));
        QCOMPARE(w.RxLabel1->geometry(), QRect(26, 8, 236, 24));
        QCOMPARE(w.RxLabel1->font().family(), QStringLiteral("Arial"));
        QVERIFY(w.RxLabel1->font().bold());
        QCOMPARE(w.RxLabel1->font().pixelSize(), 21);
        QCOMPARE(hex(w.RxLabel1->palette().color(QPalette::WindowText).rgb()), hex(0x000080));

        QCOMPARE(w.ProgressBar1->objectName(), QStringLiteral("ProgressBar1"));
        QCOMPARE(w.ProgressBar1->geometry(), QRect(10, 36, 269, 18));
        QCOMPARE(w.ProgressBar1->minimum(), 0);
        QCOMPARE(w.ProgressBar1->maximum(), 100);
        QCOMPARE(w.ProgressBar1->value(), 0);
        QVERIFY(!w.ProgressBar1->isTextVisible());
    }

    void progressWindow_createShowDestroy()
    {
        Tprocess* w = CreateProcessWindow();
        QCOMPARE(process, w);
        QVERIFY(w->isVisible());
        QVERIFY(w->isWindow());
        QCOMPARE(w->windowModality(), Qt::NonModal);
        const QRect screen = w->screen()->geometry();
        QVERIFY((w->frameGeometry().center() - screen.center()).manhattanLength() <= 2);
        // The user cannot close it.
        QVERIFY(!w->close());
        QVERIFY(w->isVisible());
        QPointer<Tprocess> alive(w);
        DestroyProcessWindow();
        QCOMPARE(process, nullptr);
        QVERIFY(alive.isNull());
        DestroyProcessWindow(); // harmless when there is none
    }

    void writer_keepsEveryByte_data()
    {
        QTest::addColumn<int>("capacity");
        QTest::newRow("1") << 1;
        QTest::newRow("7") << 7;
        QTest::newRow("64") << 64;
        QTest::newRow("default") << int(BufferedFileWriter::DefaultCapacity);
    }
    void writer_keepsEveryByte()
    {
        QFETCH(int, capacity);
        const QString file = path(QStringLiteral("writer.bin"));
        QByteArray expected;
        {
            BufferedFileWriter w(capacity);
            QVERIFY(w.open(file));
            for (int i = 0; i < 200; ++i) {
                // Pieces smaller than, equal to and larger than the buffer.
                const QByteArray piece(i % 23, char('a' + i % 26));
                expected += piece;
                QVERIFY(w.append(piece));
            }
            QVERIFY(w.close());
            QVERIFY(!w.isOpen());
        }
        QCOMPARE(readAll(file), expected);
    }

    void writer_failures()
    {
        BufferedFileWriter missing;
        QVERIFY(!missing.open(path(QStringLiteral("no/such/folder/x.txt"))));
        QVERIFY(!missing.append("abc", 3));
        QVERIFY(!missing.close());
        QVERIFY(!QFile::exists(path(QStringLiteral("no/such/folder/x.txt"))));

#ifdef Q_OS_LINUX
        // A small amount only reaches the disk at the close: a full disk must
        // still be noticed there.
        BufferedFileWriter full;
        QVERIFY(full.open(QStringLiteral("/dev/full")));
        QVERIFY(full.append("abc", 3));
        QVERIFY(!full.close());
        QVERIFY(full.failed());
        // Once failed, nothing more is accepted.
        BufferedFileWriter full2(4);
        QVERIFY(full2.open(QStringLiteral("/dev/full")));
        QVERIFY(full2.append("abc", 3));
        QVERIFY(!full2.append("defgh", 5));
        QVERIFY(!full2.append("i", 1));
        QVERIFY(!full2.close());
#endif
    }

    void writer_rowsOfEveryCellLength()
    {
        // Cells from empty to longer than the short-copy cases, in every
        // column, and one line longer than the whole buffer.
        FakeRows rows;
        for (int n = 0; n <= 40; ++n) {
            QByteArray cell;
            for (int k = 0; k < n; ++k)
                cell += char('A' + (n + k) % 26);
            rows.addRow(cell, "p" + cell, cell + "q", cell.left(n / 2), cell.right(n / 3));
        }
        rows.addRow(QByteArray(BufferedFileWriter::DefaultCapacity + 5, 'L'), "a", "", "b", "c");
        rows.addReadings(3);
        const QString file = path(QStringLiteral("lengths.txt"));
        QVERIFY(WriteRecordRowsToFile(file, rows, int(rows.data.size()), nullptr));
        QCOMPARE(readAll(file), rows.expectedFile());
        QCOMPARE(rows.rowCountCalls, 0); // the caller's count is the one used
    }

    // ---- The text export ----------------------------------------------

    void export_oneRow()
    {
        RecordingDialogs rec;
        const QString file = path(QStringLiteral("one.txt"));
        rec.saveAnswers.push_back(file);
        FakeRows rows;
        rows.addRow("10:11:12", "35.01", "53.100", "49.870", "21.5");
        int maxSeen = -99;
        bool visible = false;
        rows.onCell = [&](int, int column) {
            if (column == 0 && process) {
                maxSeen = process->ProgressBar1->maximum();
                visible = process->isVisible();
            }
        };
        int posAtComplete = -99;
        int maxAtComplete = -99;
        auto status = [&](const QString& s) {
            status_.append(s);
            if (s == Complete && process) {
                posAtComplete = process->ProgressBar1->value();
                maxAtComplete = process->ProgressBar1->maximum();
            }
        };
        ExportToText(nullptr, saveDialog_, rows, status);

        QCOMPARE(readAll(file), Header + "10:11:12,35.01,53.100,49.870,21.5\r\n");
        QCOMPARE(maxSeen, 0);
        QVERIFY(visible);
        QCOMPARE(posAtComplete, 0);
        QCOMPARE(maxAtComplete, 0);
        QCOMPARE(status_, QStringList({NowExporting, Complete}));
        QCOMPARE(process, nullptr);
        QCOMPARE(rec.shown.size(), 1);
        QCOMPARE(rec.shown[0].kind, QStringLiteral("save"));
        QCOMPARE(rec.shown[0].title, SaveTitle);
        QCOMPARE(rec.filters, QStringList{SaveFilter});
        QCOMPARE(rows.rowCountCalls, 1);
    }

    void export_manyRows_byteExact()
    {
        RecordingDialogs rec;
        const QString file = path(QStringLiteral("many.txt"));
        rec.saveAnswers.push_back(file);
        FakeRows rows;
        rows.addReadings(500);
        // Bytes beyond ASCII (GBK) go out unchanged.
        rows.addRow("\xc9\xcf\xce\xe7 9:05:01", "Er10", "Ers", "\xb2\xe2", "-1.5");
        const int n = int(rows.data.size());
        QList<int> posBeforeRow;
        QList<int> columnOrder;
        rows.onCell = [&](int row, int column) {
            if (row == 0)
                columnOrder.append(column);
            if (column == 0) {
                QVERIFY(process);
                QCOMPARE(process->ProgressBar1->maximum(), n - 1);
                posBeforeRow.append(process->ProgressBar1->value());
            }
        };
        int posAtComplete = -99;
        auto status = [&](const QString& s) {
            status_.append(s);
            if (s == Complete && process)
                posAtComplete = process->ProgressBar1->value();
        };
        ExportToText(nullptr, saveDialog_, rows, status);

        QByteArray expected =
            "time,ppt,Compensated Conductivity,UnCompensated Conductivity,Temp\r\n"
            "10:00:00,35.00,53.000,Er-1,20.0\r\n"
            "10:00:01,35.01,53.100,Er-1,20.1\r\n";
        const QByteArray got = readAll(file);
        QVERIFY(got.startsWith(expected));
        QVERIFY(got.endsWith("\r\n10:08:19,39.99,102.900,Er-1,45.0\r\n"
                             "\xc9\xcf\xce\xe7 9:05:01,Er10,Ers,\xb2\xe2,-1.5\r\n"));
        QCOMPARE(got, rows.expectedFile());
        QCOMPARE(got.count("\r\n"), n + 1);
        QCOMPARE(got.count('\n'), n + 1);
        QCOMPARE(columnOrder, QList<int>({0, 1, 2, 3, 4}));
        // The bar follows the row just written.
        QCOMPARE(posBeforeRow.size(), n);
        for (int i = 1; i < n; ++i)
            QCOMPARE(posBeforeRow[i], i - 1);
        QCOMPARE(posAtComplete, n - 1);
        QCOMPARE(status_, QStringList({NowExporting, Complete}));
        QCOMPARE(rows.rowCountCalls, 1);
        QCOMPARE(process, nullptr);
        QCOMPARE(rec.messageTexts(), QStringList());
    }

    void export_longListBarKeepsUp()
    {
        // Beyond a few thousand rows the bar moves every few rows only; it
        // must never run ahead of the rows written, never lag by a visible
        // amount, and end full.
        RecordingDialogs rec;
        const QString file = path(QStringLiteral("long.txt"));
        rec.saveAnswers.push_back(file);
        FakeRows rows;
        rows.addReadings(20000);
        const int n = int(rows.data.size());
        int worstLag = 0;
        bool ahead = false;
        rows.onCell = [&](int row, int column) {
            if (column != 0 || row == 0 || !process)
                return;
            const int pos = process->ProgressBar1->value();
            ahead = ahead || pos > row - 1;
            worstLag = std::max(worstLag, row - 1 - pos);
        };
        int posAtComplete = -99;
        ExportToText(nullptr, saveDialog_, rows, [&](const QString& s) {
            status_.append(s);
            if (process)
                posAtComplete = process->ProgressBar1->value();
        });
        QVERIFY(!ahead);
        // Less than a thousandth of the bar, far below one pixel of its width.
        QVERIFY2(worstLag < n / 1000, qPrintable(QString::number(worstLag)));
        QCOMPARE(posAtComplete, n - 1);
        QCOMPARE(readAll(file), rows.expectedFile());
    }

    void export_nameUsedExactly_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("no extension") << "readings";
        QTest::newRow("other extension") << "readings.csv";
        QTest::newRow("trailing dot") << "readings.";
        QTest::newRow("blank and Chinese") << "数据 1";
    }
    void export_nameUsedExactly()
    {
        QFETCH(QString, name);
        QTemporaryDir sub;
        RecordingDialogs rec;
        rec.saveAnswers.push_back(sub.filePath(name));
        FakeRows rows;
        rows.addReadings(2);
        ExportToText(nullptr, saveDialog_, rows, setStatus0());
        QString stored = name;
#ifdef Q_OS_WIN
        // Windows drops the trailing dots of a file name.
        while (stored.endsWith(u'.'))
            stored.chop(1);
#endif
        QCOMPARE(QDir(sub.path()).entryList(QDir::Files | QDir::Hidden), QStringList{stored});
        QCOMPARE(readAll(sub.filePath(name)), rows.expectedFile());
    }

    void export_replacesExistingFile()
    {
        RecordingDialogs rec;
        const QString file = path(QStringLiteral("existing.txt"));
        {
            QFile f(file);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(QByteArray(10000, 'x'));
        }
        rec.saveAnswers.push_back(file);
        FakeRows rows;
        rows.addReadings(3);
        ExportToText(nullptr, saveDialog_, rows, setStatus0());
        QCOMPARE(readAll(file), rows.expectedFile());
        QCOMPARE(rec.messageTexts(), QStringList()); // no question asked
        QCOMPARE(status_.last(), Complete);
    }

    void export_cancelledSaveDialog()
    {
        RecordingDialogs rec;
        rec.saveAnswers.push_back(std::nullopt);
        FakeRows rows;
        rows.addReadings(3);
        bool progressSeen = false;
        rec.onMessage = [&](const RecordingDialogs::Shown&) { progressSeen = process; };
        ExportToText(nullptr, saveDialog_, rows, setStatus0());
        QCOMPARE(rec.shown.size(), 1);
        QCOMPARE(rec.shown[0].kind, QStringLiteral("save"));
        QVERIFY(status_.isEmpty());
        QCOMPARE(rows.cellCalls, 0);
        QVERIFY(!progressSeen);
    }

    // The save dialog opens in the user's documents folder (the home folder
    // while there is none), then in the folder of the last export while that
    // exists; never in the working folder.
    void export_saveDialogStartFolder()
    {
        QTemporaryDir home, working, elsewhere;
        const QByteArray oldHome = qgetenv("HOME");
        const QString oldDir = QDir::currentPath();
        auto restore = qScopeGuard([&] {
            qputenv("HOME", oldHome);
            QDir::setCurrent(oldDir);
        });
        QVERIFY(QDir::setCurrent(working.path()));
#ifdef Q_OS_WIN
        // The shell's documents folder, always there: the opening without
        // one cannot be staged.
        const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
        QVERIFY(QFileInfo(documents).isDir());
        const QString firstFolder = documents;
#else
        qputenv("HOME", QFile::encodeName(home.path()));
        const QString documents = home.filePath(QStringLiteral("Documents"));
        QCOMPARE(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation), documents);
        const QString firstFolder = home.path();
#endif
        const QString deeper = elsewhere.filePath(QStringLiteral("deeper"));
        QVERIFY(QDir().mkpath(deeper));

        RecordingDialogs rec;
        TSaveDialog dialog(SaveTitle, SaveFilter);
        FakeRows rows;
        rows.addReadings(2);
        auto exportTo = [&](const std::optional<QString>& answer) {
            rec.saveAnswers.push_back(answer);
            ExportToText(nullptr, dialog, rows, setStatus0());
        };
        exportTo(std::nullopt);
        QVERIFY(QDir().mkpath(documents));
        exportTo(elsewhere.filePath(QStringLiteral("a.txt")));
        exportTo(std::nullopt); // a cancelled dialog changes nothing
        exportTo(deeper + QStringLiteral("/b"));
        exportTo(std::nullopt);
        QVERIFY(QDir(deeper).removeRecursively());
        exportTo(std::nullopt);

        QCOMPARE(rec.saveFolders, QStringList({firstFolder, documents, elsewhere.path(),
                                               elsewhere.path(), deeper, documents}));
        QVERIFY(!rec.saveFolders.contains(working.path()));
        QCOMPARE(readAll(elsewhere.filePath(QStringLiteral("a.txt"))), rows.expectedFile());
    }

    // Qt's own save dialog shows the folder it is given.
    void export_qtSaveDialogOpensInItsFolder()
    {
        QTemporaryDir folder;
        QString seen;
        QTimer poll;
        poll.setInterval(10);
        connect(&poll, &QTimer::timeout, this, [&] {
            if (auto* d = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
                seen = d->directory().absolutePath();
                d->reject();
            }
        });
        poll.start();
        // A dialog that does not answer to reject() must not hold the test.
        QTimer giveUp;
        giveUp.setSingleShot(true);
        connect(&giveUp, &QTimer::timeout, this, [] {
            if (QWidget* w = QApplication::activeModalWidget())
                w->close();
        });
        giveUp.start(20000);
        const std::optional<QString> chosen =
            Dialogs::instance().saveFileName(nullptr, SaveTitle, SaveFilter, folder.path());
        QVERIFY(!chosen);
        QCOMPARE(seen, folder.path());
    }

    void export_emptyList()
    {
        RecordingDialogs rec;
        const QString file = path(QStringLiteral("empty.txt"));
        rec.saveAnswers.push_back(file);
        bool progressDuringBox = true;
        rec.onMessage = [&](const RecordingDialogs::Shown&) { progressDuringBox = process; };
        FakeRows rows;
        ExportToText(nullptr, saveDialog_, rows, setStatus0());
        QCOMPARE(rec.messageTexts(), QStringList{QStringLiteral("No data,Can't Export")});
        QCOMPARE(rec.shown.last().title, QStringLiteral("Error"));
        QCOMPARE(rec.shown.last().icon, Dialogs::Icon::Error);
        QCOMPARE(rec.shown.last().buttons, Dialogs::Buttons::Ok);
        QVERIFY(!progressDuringBox);
        QVERIFY(!QFile::exists(file));
        QCOMPARE(status_, QStringList{NowExporting});
        QCOMPARE(process, nullptr);
    }

    void export_failure_data()
    {
        QTest::addColumn<QString>("target");
        QTest::newRow("folder does not exist") << "missing/folder/out.txt";
        QTest::newRow("name is a folder") << ".";
#ifdef Q_OS_LINUX
        QTest::newRow("disk full") << "/dev/full";
#endif
    }
    void export_failure()
    {
        QFETCH(QString, target);
        const QString file = target.startsWith(u'/') ? target : path(target);
        RecordingDialogs rec;
        rec.saveAnswers.push_back(file);
        FakeRows rows;
        rows.addReadings(3);
        bool progressDuringBox = false;
        rec.onMessage = [&](const RecordingDialogs::Shown&) {
            progressDuringBox = process && process->isVisible();
        };
        ExportToText(nullptr, saveDialog_, rows, setStatus0());
        QCOMPARE(rec.messageTexts(), QStringList{QStringLiteral("Error in Exporting!")});
        QCOMPARE(rec.shown.last().title, QStringLiteral("Error"));
        QCOMPARE(rec.shown.last().icon, Dialogs::Icon::Error);
        QCOMPARE(rec.shown.last().buttons, Dialogs::Buttons::Ok);
        QVERIFY(progressDuringBox);
        QCOMPARE(process, nullptr);
        QCOMPARE(status_, QStringList{NowExporting});
        QCOMPARE(rows.data.size(), 3);
    }

#ifdef Q_OS_LINUX
    void export_failureMidwayKeepsWrittenLinesAndStops()
    {
        // A file size limit makes the disk "fill up" after the first bytes.
        const QString file = path(QStringLiteral("limited.txt"));
        RecordingDialogs rec;
        rec.saveAnswers.push_back(file);
        FakeRows rows;
        rows.addReadings(20000);
        const int n = int(rows.data.size());
        int lastRowRead = -1;
        rows.onCell = [&](int row, int) { lastRowRead = row; };

        rlimit old{};
        QCOMPARE(getrlimit(RLIMIT_FSIZE, &old), 0);
        auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limited = old;
        limited.rlim_cur = 1000;
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &limited), 0);
        ExportToText(nullptr, saveDialog_, rows, setStatus0());
        setrlimit(RLIMIT_FSIZE, &old);
        std::signal(SIGXFSZ, oldHandler);

        QCOMPARE(rec.messageTexts(), QStringList{QStringLiteral("Error in Exporting!")});
        const QByteArray got = readAll(file);
        QVERIFY(onlyFirstWholeLines(got, rows.expectedFile()));
        QCOMPARE(got, wholeLinesWithin(rows.expectedFile(), 1000));
        QVERIFY2(lastRowRead < n - 1, "the export went on after the failure");
        QCOMPARE(status_, QStringList{NowExporting});
        QCOMPARE(process, nullptr);
    }
#endif

#ifdef Q_OS_UNIX
    void writer_fullDiskKeepsWholeLines_data()
    {
        QTest::addColumn<int>("longLineAt"); // -1: none
        QTest::addColumn<qint64>("limit");
        const qint64 buffer = BufferedFileWriter::DefaultCapacity;
        FakeRows sample;
        sample.addReadings(20);
        const qint64 tenLines = sample.expectedFile(10).size();
        QTest::newRow("nothing fits") << -1 << qint64(0);
        QTest::newRow("inside the header") << -1 << qint64(40);
        QTest::newRow("exactly ten lines") << -1 << tenLines;
        QTest::newRow("one byte short of ten lines") << -1 << tenLines - 1;
        QTest::newRow("inside the first hand-over") << -1 << qint64(1000);
        QTest::newRow("first hand-over fits, next takes nothing") << -1 << buffer;
        QTest::newRow("inside the second hand-over") << -1 << buffer + 5000;
        QTest::newRow("inside a line longer than the buffer") << 30 << buffer / 2;
        QTest::newRow("just past a line longer than the buffer") << 30 << buffer + 2000;
    }
    void writer_fullDiskKeepsWholeLines()
    {
        // The limit stands for a disk that fills up in the middle of a
        // hand-over, at any point of a line.
        QFETCH(int, longLineAt);
        QFETCH(qint64, limit);
        FakeRows rows;
        rows.addReadings(20000);
        if (longLineAt >= 0)
            rows.data[longLineAt][0] = QByteArray(BufferedFileWriter::DefaultCapacity + 5, 'L');
        const int n = int(rows.data.size());
        const QString file = path(QStringLiteral("full.txt"));
        const int result = runWithFileSizeLimit(rlim_t(limit), [&] {
            return WriteRecordRowsToFile(file, rows, n, nullptr) ? 1 : 0;
        });
        QCOMPARE(result, 0); // the write reported its failure
        const QByteArray got = readAll(file);
        QVERIFY2(onlyFirstWholeLines(got, rows.expectedFile()),
                 got.right(40).toHex(' ').constData());
        QCOMPARE(got.size(), wholeLinesWithin(rows.expectedFile(), limit).size());
    }
#endif

    void export_decimalCommaRow()
    {
        RecordingDialogs rec;
        const QString file = path(QStringLiteral("comma.txt"));
        rec.saveAnswers.push_back(file);
        FakeRows rows;
        rows.addRow("10:00:00", "35,0", "53,123", "49,870", "21,5");
        ExportToText(nullptr, saveDialog_, rows, setStatus0());
        const QList<QByteArray> lines = readAll(file).split('\n');
        QCOMPARE(lines.size(), 3); // the last line end leaves an empty tail
        QCOMPARE(lines[0].split(',').size(), 5);
        QCOMPARE(lines[1], QByteArray("10:00:00,35,0,53,123,49,870,21,5\r"));
        QCOMPARE(lines[1].split(',').size(), 9);
        QCOMPARE(lines[2], QByteArray());
    }

    void export_rowErrorStillRemovesWindowAndClosesFile()
    {
        RecordingDialogs rec;
        const QString file = path(QStringLiteral("throws.txt"));
        rec.saveAnswers.push_back(file);
        FakeRows rows;
        rows.addReadings(5);
        rows.onCell = [](int row, int) {
            if (row == 3)
                throw AppError(QStringLiteral("row gone"));
        };
        QVERIFY_THROWS_EXCEPTION(AppError, ExportToText(nullptr, saveDialog_, rows, setStatus0()));
        QCOMPARE(process, nullptr);
        QCOMPARE(readAll(file), rows.expectedFile(3));
        QCOMPARE(status_, QStringList{NowExporting});
    }
};

DSG_TEST_MAIN(TestTextExport)
#include "tst_textexport.moc"
