// Every text the program shows goes through translation, and the translation
// source resources/app_zh.ts holds exactly the texts the code marks.
//
// Two ways to miss a text, two checks:
// - a text marked in the code but not in app_zh.ts (update_translations not
//   run): lupdate over the same sources must give app_zh.ts's source texts;
// - a text shown but never marked: under a translator that brackets every text
//   it is asked for, every text the window, its menus, the about box and the
//   commands' dialogs and boxes show must come out bracketed.

#include "app/globals.h"
#include "mainwindow/glassmere.h"
#include "support/dialogdriver.h"
#include "widgets/about.h"

#include <QFile>
#include <QFileDialog>
#include <QMessageBox>
#include <QPointer>
#include <QProcess>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTranslator>
#include <QXmlStreamReader>

#include <memory>

namespace {

const QString opening = QStringLiteral("\u2039");
const QString closing = QStringLiteral("\u203a");

// Translates every text into itself in brackets: an unbracketed text on screen
// never went through translation.
class BracketingTranslator : public QTranslator {
public:
    QString translate(const char*, const char* sourceText, const char*, int) const override
    {
        if (!sourceText || !*sourceText)
            return {};
        return opening + QString::fromUtf8(sourceText) + closing;
    }
    bool isEmpty() const override { return false; }
};

bool marked(const QString& text)
{
    return text.contains(opening) && text.contains(closing);
}

// The live source texts of a .ts file, as "context | source[ | comment]".
QSet<QString> sourceTexts(const QString& tsFile, QString* error)
{
    QFile file(tsFile);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = "cannot read " + tsFile;
        return {};
    }
    QSet<QString> texts;
    QXmlStreamReader xml(&file);
    QString context, message;
    bool gone = false;
    while (!xml.atEnd()) {
        xml.readNext();
        const QString name = xml.name().toString();
        if (xml.isStartElement() && name == "name") {
            context = xml.readElementText();
        } else if (xml.isStartElement() && name == "message") {
            message = context;
            gone = false;
        } else if (xml.isStartElement() && (name == "source" || name == "comment")) {
            message += " | " + xml.readElementText();
        } else if (xml.isStartElement() && name == "translation") {
            // Texts the code no longer has stay for translators, marked so.
            const auto type = xml.attributes().value("type");
            gone = type == u"vanished" || type == u"obsolete";
        } else if (xml.isEndElement() && name == "message" && !gone) {
            texts.insert(message);
        }
    }
    if (xml.hasError())
        *error = tsFile + ": " + xml.errorString();
    return texts;
}

// Widgets whose texts are data, not words: numbers, colours, folders, file
// facts, progress, addresses and the owner's notice.
const QSet<QString> dataWidgets = {"txtSize", "txtDepth", "txtColor", "txtPicDir", "txtResultDir",
                                   "lbName",  "lbType",   "lbSize",   "lbDim",     "progressBar",
                                   "lbUrl",   "lbUrl_2",  "lbEmail"};

// Every text `root` and its children (widgets and actions) show that did not
// come out bracketed, as "objectName: text".
QStringList unmarkedTexts(QWidget* root)
{
    QStringList found;
    QObjectList objects = root->findChildren<QObject*>();
    objects.prepend(root);
    for (QObject* object : std::as_const(objects)) {
        if (dataWidgets.contains(object->objectName()))
            continue;
        QStringList texts;
        for (const char* property : {"text", "toolTip", "title", "description"})
            texts << object->property(property).toString();
        if (auto* widget = qobject_cast<QWidget*>(object); widget && widget->isWindow())
            texts << widget->windowTitle();
        if (auto* tabs = qobject_cast<QTabWidget*>(object)) {
            for (int i = 0; i < tabs->count(); ++i)
                texts << tabs->tabText(i) << tabs->tabToolTip(i);
        }
        for (const QString& text : std::as_const(texts)) {
            if (!text.isEmpty() && !marked(text))
                found << object->objectName() + ": " + text;
        }
    }
    return found;
}

// Notes the title and text of every file dialog and message box that comes
// while it lives; chooses `file` in file dialogs (cancels without one) and
// answers boxes with OK.
class ModalNotes {
public:
    explicit ModalNotes(const QString& file)
    {
        timer.setInterval(10);
        QObject::connect(&timer, &QTimer::timeout, [this, file] {
            QWidget* modal = modalInItsLoop<QWidget>();
            if (!modal)
                return;
            // A file dialog can stay open after accept() while its folder model
            // settles: it is answered again, but noted once.
            const bool again = modal == last;
            last = modal;
            if (auto* dialog = qobject_cast<QFileDialog*>(modal)) {
                if (!again)
                    notes << dialog->windowTitle();
                if (file.isEmpty())
                    dialog->reject();
                else
                    acceptFileDialog(dialog, file);
            } else if (auto* box = qobject_cast<QMessageBox*>(modal)) {
                if (!again)
                    notes << box->windowTitle() << box->text();
                box->button(QMessageBox::Ok)->click();
            }
        });
        timer.start();
    }
    QStringList notes;

private:
    QTimer timer;
    QPointer<QWidget> last;
};

} // namespace

class TestTranslations : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void translationSourceIsCurrent();
    void formTextsAreMarked_data();
    void formTextsAreMarked();
    void dialogAndBoxTextsAreMarked_data();
    void dialogAndBoxTextsAreMarked();

private:
    QTemporaryDir folder;
    BracketingTranslator translator;
};

void TestTranslations::initTestCase()
{
    QVERIFY(folder.isValid());
    applicationFolder = folder.path();
    // The skin goes through tr() as a whole too; none here, so the default look.
    skinFile = folder.filePath("no-skin-here");
    QCoreApplication::installTranslator(&translator);
}

void TestTranslations::cleanupTestCase()
{
    QCoreApplication::removeTranslator(&translator);
}

void TestTranslations::translationSourceIsCurrent()
{
    const QString fresh = folder.filePath("fresh_zh.ts");
    QProcess lupdate;
    lupdate.setProcessChannelMode(QProcess::MergedChannels);
    lupdate.start(GLASSMERE_LUPDATE, {"-silent", "@" GLASSMERE_TRANSLATED_SOURCES, "-ts", fresh});
    QVERIFY2(lupdate.waitForFinished(120000), qPrintable(lupdate.errorString()));
    QVERIFY2(lupdate.exitCode() == 0, lupdate.readAll().constData());

    QString error;
    const QSet<QString> marked = sourceTexts(fresh, &error);
    const QSet<QString> kept = sourceTexts(GLASSMERE_TS_FILE, &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QVERIFY(marked.size() > 50);

    QStringList missing = QSet<QString>(marked).subtract(kept).values();
    QStringList stale = QSet<QString>(kept).subtract(marked).values();
    missing.sort();
    stale.sort();
    QVERIFY2(missing.isEmpty() && stale.isEmpty(),
             qPrintable("resources/app_zh.ts is out of step; build the target "
                        "update_translations.\n  marked in the code, missing from it:\n    " +
                        missing.join("\n    ") + "\n  in it, no longer in the code:\n    " +
                        stale.join("\n    ")));
}

void TestTranslations::formTextsAreMarked_data()
{
    QTest::addColumn<bool>("aboutBox");
    QTest::newRow("main window") << false;
    QTest::newRow("about box") << true;
}

void TestTranslations::formTextsAreMarked()
{
    QFETCH(bool, aboutBox);
    std::unique_ptr<QWidget> form;
    if (aboutBox)
        form = std::make_unique<about>();
    else
        form = std::make_unique<Glassmere>();
    const QStringList found = unmarkedTexts(form.get());
    QVERIFY2(found.isEmpty(), qPrintable("not marked for translation:\n  " + found.join("\n  ")));
    QVERIFY(marked(form->windowTitle())); // the check itself sees the form's words
}

void TestTranslations::dialogAndBoxTextsAreMarked_data()
{
    QTest::addColumn<QString>("slot");
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("texts");

    QFile broken(folder.filePath("broken.png"));
    QVERIFY(broken.open(QIODevice::WriteOnly));
    broken.write("\x89PNG\r\n\x1a\n cut short");
    broken.close();
    QTest::newRow("open, a broken file") << "on_btAddPic_clicked" << broken.fileName() << 3;
    QTest::newRow("save, nothing loaded")
        << "on_btSavePic_clicked" << folder.filePath("out.png") << 3;
    QTest::newRow("batch without folders") << "on_btCovPics_clicked" << QString() << 2;
    QTest::newRow("picture folder chooser") << "on_btAddPicDir_clicked" << QString() << 1;
    QTest::newRow("result folder chooser") << "on_btPicResultDir_clicked" << QString() << 1;
}

void TestTranslations::dialogAndBoxTextsAreMarked()
{
    QFETCH(QString, slot);
    QFETCH(QString, file);
    QFETCH(int, texts);
    Glassmere window;
    ModalNotes notes(file);
    QVERIFY(QMetaObject::invokeMethod(&window, slot.toLatin1(), Qt::DirectConnection));
    QCOMPARE(notes.notes.size(), texts);
    for (const QString& text : std::as_const(notes.notes))
        QVERIFY2(marked(text), qPrintable("not marked for translation: " + text));
}

QTEST_MAIN(TestTranslations)
#include "tst_translations.moc"
