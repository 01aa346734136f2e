// SPDX-License-Identifier: GPL-3.0-or-later
// The translation source resources/app_zh.ts holds exactly the texts the code
// marks, and every text the program shows goes through translation: under a
// translator that brackets every text, everything shown comes out bracketed.

#include "mainwindow/glassmere.h"
#include "support/dialogdriver.h"
#include "support/testpictures.h"
#include "widgets/about.h"

#include <QFileDialog>
#include <QProcess>
#include <QRegularExpression>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTranslator>
#include <QXmlStreamReader>

namespace {

const QString opening = QStringLiteral("\u2039");
const QString closing = QStringLiteral("\u203a");

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
QSet<QString> sourceTexts(const QString& tsFile)
{
    QSet<QString> texts;
    QXmlStreamReader xml(fileBytes(tsFile));
    QString context, message;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        const QStringView name = xml.name();
        if (name == u"name") {
            context = xml.readElementText();
        } else if (name == u"message") {
            message = context;
        } else if (name == u"source" || name == u"comment") {
            message += " | " + xml.readElementText();
        } else if (name == u"translation") {
            // Texts the code no longer has stay for translators, marked so.
            const QStringView type = xml.attributes().value("type");
            if (type != u"vanished" && type != u"obsolete")
                texts.insert(message);
        }
    }
    return texts;
}

// Widgets whose texts are data, not words: numbers, colours, folders, file
// facts, progress, addresses and the owner's notice.
const QSet<QString> dataWidgets = {"txtSize",     "txtDepth", "txtOpacity", "txtGap",
                                   "txtBlur",     "txtColor", "txtPicDir",  "txtResultDir",
                                   "lbName",      "lbType",   "lbSize",     "lbDim",
                                   "progressBar", "lbUrl",    "lbUrl_2",    "lbEmail"};

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
        if (auto* tabs = qobject_cast<QTabWidget*>(object))
            for (int i = 0; i < tabs->count(); ++i)
                texts << tabs->tabText(i) << tabs->tabToolTip(i);
        for (const QString& text : std::as_const(texts))
            if (!text.isEmpty() && !marked(text))
                found << object->objectName() + ": " + text;
    }
    return found;
}

} // namespace

class TestTranslations : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(folder.isValid());
        QCoreApplication::installTranslator(&translator);
    }

    void translationSourceIsCurrent()
    {
        const QString fresh = folder.filePath("fresh_zh.ts");
        QCOMPARE(QProcess::execute(GLASSMERE_LUPDATE,
                                   {"-silent", "@" GLASSMERE_TRANSLATED_SOURCES, "-ts", fresh}),
                 0);

        QStringList marked = sourceTexts(fresh).values();
        QStringList kept = sourceTexts(GLASSMERE_TS_FILE).values();
        marked.sort();
        kept.sort();
        QVERIFY(marked.size() > 50);
        // Out of step: build the target update_translations.
        QCOMPARE(kept, marked);
    }

    // Every live message of the translation is translated, with the same
    // placeholders as its source, so a Chinese user sees no English and no
    // lost file name.
    void translationIsComplete()
    {
        QXmlStreamReader xml(fileBytes(GLASSMERE_TS_FILE));
        QStringList unfinished;
        QString source;
        static const QRegularExpression placeholder("%\\d");
        auto placeholders = [](const QString& text) {
            QStringList found;
            for (const QRegularExpressionMatch& match : placeholder.globalMatch(text))
                found << match.captured();
            found.sort();
            return found;
        };
        int translated = 0;
        while (!xml.atEnd()) {
            if (xml.readNext() != QXmlStreamReader::StartElement)
                continue;
            if (xml.name() == u"source") {
                source = xml.readElementText();
            } else if (xml.name() == u"translation") {
                const QStringView type = xml.attributes().value("type");
                if (type == u"vanished" || type == u"obsolete")
                    continue;
                const QString text = xml.readElementText();
                if (type == u"unfinished" || text.isEmpty())
                    unfinished << source;
                else if (placeholders(text) != placeholders(source))
                    unfinished << source + " (placeholders differ: " + text + ")";
                else
                    ++translated;
            }
        }
        QVERIFY2(unfinished.isEmpty(), qPrintable("not translated:\n  " + unfinished.join("\n  ")));
        QVERIFY(translated > 50);
    }

    void formTextsAreMarked()
    {
        Glassmere window;
        about box;
        for (QWidget* form : {static_cast<QWidget*>(&window), static_cast<QWidget*>(&box)}) {
            const QStringList found = unmarkedTexts(form);
            QVERIFY2(found.isEmpty(),
                     qPrintable("not marked for translation:\n  " + found.join("\n  ")));
            QVERIFY(marked(form->windowTitle())); // the check itself sees the form's words
        }
    }

    void dialogAndBoxTextsAreMarked_data()
    {
        QTest::addColumn<QString>("slot");
        // Chosen in the file dialog (empty: cancelled); for a batch, its picture folder.
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("texts");

        writeBytes(folder.filePath("broken.png"), "\x89PNG\r\n\x1a\n cut short");
        QTest::newRow("open, a broken file")
            << "on_btAddPic_clicked" << folder.filePath("broken.png") << 3;
        QTest::newRow("save, nothing loaded")
            << "on_btSavePic_clicked" << folder.filePath("out.png") << 3;
        QTest::newRow("batch without folders") << "on_btCovPics_clicked" << QString() << 2;
        QTest::newRow("picture folder chooser") << "on_btAddPicDir_clicked" << QString() << 1;
        // A run's report: its closing line too, not only the headings.
        QVERIFY(QDir(folder.path()).mkpath("pictures") && QDir(folder.path()).mkpath("results"));
        writeBytes(folder.filePath("pictures/notes.txt"), "not a picture");
        QTest::newRow("batch report") << "on_btCovPics_clicked" << folder.filePath("pictures") << 2;
    }

    void dialogAndBoxTextsAreMarked()
    {
        QFETCH(QString, slot);
        QFETCH(QString, file);
        QFETCH(int, texts);
        Glassmere window;
        if (slot == "on_btCovPics_clicked" && !file.isEmpty()) { // the folders of a run
            window.findChild<QLineEdit*>("txtPicDir")->setText(file);
            window.findChild<QLineEdit*>("txtResultDir")->setText(folder.filePath("results"));
        }
        MessageBoxCatcher box;
        QStringList shown;
        box.expect<QFileDialog>([&](QFileDialog* dialog) {
            shown << dialog->windowTitle();
            file.isEmpty() ? dialog->reject() : acceptFileDialog(dialog, file);
        });
        QVERIFY(QMetaObject::invokeMethod(&window, slot.toLatin1(), Qt::DirectConnection));
        if (!box.said.isEmpty()) // its title and text
            shown << box.said.section('|', 0, 0) << box.said.section('|', 1, 1);
        shown.removeDuplicates(); // a dialog answered again
        QCOMPARE(shown.size(), texts);
        for (const QString& text : std::as_const(shown))
            QVERIFY2(marked(text), qPrintable("not marked for translation: " + text));
    }

private:
    QTemporaryDir folder;
    BracketingTranslator translator;
};

QTEST_MAIN(TestTranslations)
#include "tst_translations.moc"
