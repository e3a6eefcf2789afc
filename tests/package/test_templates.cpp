#include "package/Templates.h"

#include <QFile>
#include <QHash>
#include <QStringDecoder>
#include <QTemporaryDir>
#include <QTimer>
#include <QXmlStreamReader>
#include <QtTest>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <csignal>
#include <vector>

using namespace sparkloom;

namespace {

// The two documents as element tables: attributes "Name=value" joined by "|".
struct Element {
    QString name;
    QString attributes;
    std::vector<Element> children;  // none: written self-closing
};

const Element kXml{
    "TEMPLATE_MGR",
    "VERSION=1.0",
    {{"TEMPLATE_LIST",
      "",
      {{"TEMPLATE",
        "TYPE={{TYPE}}|ASPECTRATIO=16:9|CATEGORY={{CATEGORY}}|SCRIPTNAME=TitleTemplate.clt|"
        "FILENAME=Thumb.png|ALIAS={{PARTICLENAME}}|THUMBNAIL_PERCENT=50|PIPTYPE=4|_3DTYPE=|"
        "DURATION=100100100|PARENTTEMPLATEKEY=EE67B716-5A4A-4BEC-9933-96AB619F287B|"
        "TEMPLATEKEY=DE37CBD7-B285-4792-9B8D-B46E70EEE03E",
        {}}}}}};

const Element kClt{
    "CTemplate",
    "Version=1.0",
    {{"Header",
      "",
      {{"Information", "Creator=CES_Template Exported XML", {}},
       {"Extension", "ReferencePath={{SOURCEDIRECTORYPATH}}", {}}}},
     {"S3DInfo",
      "",
      {{"MetaS3D", "DistanceType=0|DepthLowerBound=-0.333333|DepthUpperBound=0.333333", {}}}},
     {"OutputInfo",
      "",
      {{"DisplayMask", "Left=0.000000|Top=0.000000|Width=1.000000|Height=1.000000", {}},
       {"MetaOutput",
        "ScreenDiagonal=20|ScreenAspectRationX=534|ScreenAspectRationY=300|OutputField=0|"
        "OutputQuality=1|OutputWorkingMode=0",
        {}}}},
     {"LayerList",
      "",
      {{"MetaLayer",
        "LayerMediaType=3|LayerMediaPtr=0|LayerBeginTime=0.000000|LayerEndTime=1.000000|"
        "LayerVisible=true|Version=1.0",
        {{"EngineAttrib",
          "RandomAccess=1|UpdateFPS=30|PlaybackSpeed=1.000000|CacheInterval=150|"
          "ScriptDuration=0|ReferencePosX=0.500000|ReferencePosY=0.500000|"
          "StereoLowerBound=-1.000000|StereoUpperBound=1.000000|EnableDepth=0",
          {}},
         {"Emitter",
          "Type=Point|ID=emtr_0",
          {{"Particle",
            "Type=Bubble|ID=ptl_0",
            {{"ParticleAttrib",
              "ParticleMaxCount=1|Z-Order=0|EmitInterval=1|Life=20000|LifeVariation=0.000000",
              {}},
             {"ParticleAttribExt",
              "Asymmetric=0.000000|Size=100.000000|SizeVariation=0.000000|Speed=0.000000|"
              "SpeedVariation=0.000000|WavePeriod=0|WavePeriodVariation=0.000000|"
              "Acceleration=0.000000|AccelerationVariation=0.000000|Gravity=0.000000|"
              "AdditiveAlpha=0|AlignedCenter=1|Bounce=0.000000|BounceR=0.000000|"
              "BounceL=0.000000|RadianSpeed=0.000000|RadianSpeedVar=0.000000|"
              "RadianSpeedRandomInverse=0|AnimationImage={{FIRSTFILENAME}}|"
              "AnimationDuration={{ANIMATIONDURATION}}|InteractiveWithBG=0|EdgeType=0|"
              "AnimationLoop=0",
              {}}}},
           {"EmitterAttrib",
            "PosX=0.500000|PosY=0.500000|PosZ=0.000000|EmitAngle=0.000000|EmitRange=0.000000|"
            "EmitAngleZ=0.000000|EmitRangeZ=0.000000|BeginTime=0|Duration=0|EnableDepth=0|"
            "BeginProgress=0.000000|EndProgress=1.000000|FadeInEnd=0.000000|"
            "FadeOutStart=1.000000|Visible=1|RenderStyleMode=1",
            {}},
           {"EmitterAttribExt", "IsSequential=0|Segment=10", {}}}}}}}}}};

using Values = QHash<QString, QString>;

// Writes the element; an attribute whose whole value is a key of values gets that value.
QString Render(const Element& e, const Values& values) {
    QString out = "<" + e.name;
    for (const QString& attribute : e.attributes.split('|', Qt::SkipEmptyParts)) {
        const qsizetype eq = attribute.indexOf('=');
        const QString value = attribute.mid(eq + 1);
        out += " " + attribute.left(eq) + "=\"" + values.value(value, value) + "\"";
    }
    if (e.children.empty()) {
        return out + "/>";
    }
    out += ">";
    for (const Element& child : e.children) {
        out += Render(child, values);
    }
    return out + "</" + e.name + ">";
}

QString Document(const Element& top, const Values& values = {}) {
    return R"(<?xml version="1.0" encoding="UTF-16"?>)" + Render(top, values);
}

QByteArray Utf16File(const QString& text) {
    QByteArray bytes("\xFF\xFE");
    for (QChar c : text) {
        bytes.append(char(c.unicode() & 0xFF)).append(char(c.unicode() >> 8));
    }
    return bytes;
}

QByteArray ReadAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString DecodedFile(const QString& path) {
    const QByteArray bytes = ReadAll(path);
    if (!bytes.startsWith("\xFF\xFE")) {
        return {};
    }
    QStringDecoder fromUtf16(QStringConverter::Utf16LE);
    return fromUtf16(bytes.mid(2));
}

// Parses the whole document; returns the attribute of the element, or a marker on any error.
QString AttributeOf(const QString& document, const QString& element, const QString& attribute) {
    QXmlStreamReader reader(document);
    QString found = "<missing>";
    while (!reader.atEnd()) {
        if (reader.readNext() == QXmlStreamReader::StartElement && reader.name() == element) {
            found = reader.attributes().value(attribute).toString();
        }
    }
    return reader.hasError() ? "<error: " + reader.errorString() + ">" : found;
}

const TemplateXmlValues kFire{"CUSTOM", "General", "Fire"};

}  // namespace

class TestTemplates : public QObject {
    Q_OBJECT

private slots:
    void resourceLayout_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("expectedText");
        QTest::addColumn<QStringList>("placeholders");
        QTest::newRow("XML") << "XML" << Document(kXml)
                             << QStringList{"{{TYPE}}", "{{CATEGORY}}", "{{PARTICLENAME}}"};
        QTest::newRow("CLT") << "clt" << Document(kClt)
                             << QStringList{"{{SOURCEDIRECTORYPATH}}", "{{FIRSTFILENAME}}",
                                            "{{ANIMATIONDURATION}}"};
    }
    void resourceLayout() {
        QFETCH(QString, name);
        QFETCH(QString, expectedText);
        QFETCH(QStringList, placeholders);
        const QByteArray bytes = TemplateResource(name);
        QCOMPARE(bytes.size(), expectedText.size() + 5);
        QVERIFY(bytes.startsWith("\xEF\xBB\xBF"));
        QVERIFY(bytes.endsWith(QByteArray(2, '\0')));
        const QByteArray text = bytes.mid(3, bytes.size() - 5);
        QCOMPARE(text, expectedText.toLatin1());
        for (const QString& placeholder : placeholders) {
            QCOMPARE(text.count(placeholder.toLatin1()), 1);
        }
    }
    void resourceSizes() {
        QCOMPARE(Document(kXml).size(), 435);
        QCOMPARE(Document(kClt).size(), 2055);
        QCOMPARE(TemplateResource("XML").size(), 440);
        QCOMPARE(TemplateResource("CLT").size(), 2060);
        QVERIFY(TemplateResource("ZIP").isEmpty());
    }

    void stripNulls() {
        QString text = QString::fromLatin1("abc\0def", 7);
        QCOMPARE(&StripNulls(text), &text);
        QCOMPARE(text, "abc");
        QString leading(QChar(0));
        leading += "abc";
        QCOMPARE(StripNulls(leading), "");
        QString plain("abc");
        QCOMPARE(StripNulls(plain), "abc");
    }

    void requiredFiguresAreExactBytes() {
        QTemporaryDir dir("/tmp/sl-XXXXXX");
        QCOMPARE(dir.path().size(), 14);

        const TemplateWrite xml = WriteTemplateXml(dir.path(), kFire);
        QVERIFY2(xml.ok, qPrintable(xml.error));
        QCOMPARE(xml.path, dir.filePath("TitleTemplate.xml"));
        const QByteArray xmlBytes = ReadAll(xml.path);
        QCOMPARE(xmlBytes.size(), 834);
        QCOMPARE(xmlBytes, Utf16File(Document(kXml, {{"{{TYPE}}", "CUSTOM"},
                                                     {"{{CATEGORY}}", "General"},
                                                     {"{{PARTICLENAME}}", "Fire"}})));
        QCOMPARE(AttributeOf(DecodedFile(xml.path), "TEMPLATE", "ALIAS"), "Fire");

        const TemplateWrite clt = WriteTemplateClt(dir.path(), "Fire_00001.jpg", 1500);
        QVERIFY2(clt.ok, qPrintable(clt.error));
        const QByteArray cltBytes = ReadAll(clt.path);
        QCOMPARE(cltBytes.size(), 4056);
        QCOMPARE(cltBytes, Utf16File(Document(kClt, {{"{{SOURCEDIRECTORYPATH}}", dir.path() + "/"},
                                                     {"{{FIRSTFILENAME}}", "Fire_00001.jpg"},
                                                     {"{{ANIMATIONDURATION}}", "1500"}})));
        QCOMPARE(FilledTemplateClt("/frames/Fire12", "Fire_00001.jpg", 1500).size(), 2027);
    }

    void filesAreStableAndClean() {
        QTemporaryDir dir;
        QVERIFY(WriteTemplateXml(dir.path(), kFire).ok);
        QVERIFY(WriteTemplateClt(dir.path(), "Fire_00001.jpg", 1500).ok);
        for (const char* name : {"TitleTemplate.xml", "TitleTemplate.clt"}) {
            QVERIFY(ReadAll(dir.filePath(name)).startsWith("\xFF\xFE"));
            const QString text = DecodedFile(dir.filePath(name));
            QVERIFY(text.startsWith("<?xml"));
            QVERIFY(text.endsWith('>'));
            QVERIFY(!text.contains(QChar(0)));
        }
        const QByteArray xml = ReadAll(dir.filePath("TitleTemplate.xml"));
        const QByteArray clt = ReadAll(dir.filePath("TitleTemplate.clt"));
        QVERIFY(WriteTemplateXml(dir.path(), kFire).ok);
        QVERIFY(WriteTemplateClt(dir.path(), "Fire_00001.jpg", 1500).ok);
        QCOMPARE(ReadAll(dir.filePath("TitleTemplate.xml")), xml);
        QCOMPARE(ReadAll(dir.filePath("TitleTemplate.clt")), clt);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 2);
    }

    void placeholderRules() {
        const auto xmlAttribute = [](const TemplateXmlValues& values, const char* attribute) {
            return AttributeOf(FilledTemplateXml(values), "TEMPLATE", attribute);
        };
        const auto clt = [](const QString& folder, const QString& first, int32_t duration,
                            const char* element, const char* attribute) {
            return AttributeOf(FilledTemplateClt(folder, first, duration), element, attribute);
        };
        QCOMPARE(clt("/f", "My Clip_00001.jpg", 1, "ParticleAttribExt", "AnimationImage"),
                 "My_Clip_00001.jpg");
        QCOMPARE(xmlAttribute({"CUSTOM", "General", "My Clip"}, "ALIAS"), "My Clip");
        QCOMPARE(clt("/f", "a", 0, "ParticleAttribExt", "AnimationDuration"), "0");
        QCOMPARE(clt("/f", "a", -1500, "ParticleAttribExt", "AnimationDuration"), "-1500");
        QCOMPARE(clt("/f", "a", INT32_MIN, "ParticleAttribExt", "AnimationDuration"),
                 "-2147483648");

        const QString bom = QString::fromLatin1("\xEF\xBB\xBF");
        QCOMPARE(xmlAttribute({"CUSTOM", "General", "Fi" + bom + "re" + bom}, "ALIAS"), "Fire");
        QCOMPARE(clt("/f" + bom, "a" + bom, 1, "Extension", "ReferencePath"), "/f/");

        // Later placeholders are filled after earlier values went in, never the other way.
        QCOMPARE(clt("/x/{{FIRSTFILENAME}}", "a b", 1, "Extension", "ReferencePath"), "/x/a_b/");
        QCOMPARE(clt("/x/{{ANIMATIONDURATION}}", "a", 7, "Extension", "ReferencePath"), "/x/7/");
        QCOMPARE(xmlAttribute({"CUSTOM", "General", "{{TYPE}}"}, "ALIAS"), "{{TYPE}}");
        QCOMPARE(xmlAttribute({"{{CATEGORY}}", "General", "n"}, "TYPE"), "General");
    }

    void xmlSpecialCharactersAreEscaped() {
        QTemporaryDir root;
        const QString name = R"(Fire & "Ice" <x>)";
        const QString folder = root.filePath(R"(R&D "1" <b>)");
        QVERIFY(QDir().mkpath(folder));
        QVERIFY(WriteTemplateXml(folder, {"A&B", "<C>", name}).ok);
        QVERIFY(WriteTemplateClt(folder, R"("a"&<b>.jpg)", 1500).ok);
        const QString xml = DecodedFile(folder + "/TitleTemplate.xml");
        QCOMPARE(AttributeOf(xml, "TEMPLATE", "ALIAS"), name);
        QCOMPARE(AttributeOf(xml, "TEMPLATE", "TYPE"), "A&B");
        QCOMPARE(AttributeOf(xml, "TEMPLATE", "CATEGORY"), "<C>");
        const QString clt = DecodedFile(folder + "/TitleTemplate.clt");
        QCOMPARE(AttributeOf(clt, "Extension", "ReferencePath"), folder + "/");
        QCOMPARE(AttributeOf(clt, "ParticleAttribExt", "AnimationImage"), R"("a"&<b>.jpg)");
    }

    void nonAsciiIsCarriedExactly() {
        QTemporaryDir root;
        const QString name = QString::fromUtf8("Flamme é ü 日本");
        const QString folder = root.filePath(QString::fromUtf8("Bilder ü 日本"));
        QVERIFY(QDir().mkpath(folder));
        QVERIFY(WriteTemplateXml(folder, {"CUSTOM", "General", name}).ok);
        QVERIFY(WriteTemplateClt(folder, name + ".jpg", 1).ok);
        const QByteArray xml = ReadAll(folder + "/TitleTemplate.xml");
        QCOMPARE(xml.size(), 834 + 2 * (name.size() - 4));
        QVERIFY(xml.contains(QByteArray("\xE5\x65\x2C\x67", 4)));  // 日本 as UTF-16LE
        QCOMPARE(AttributeOf(DecodedFile(folder + "/TitleTemplate.xml"), "TEMPLATE", "ALIAS"),
                 name);
        const QString clt = DecodedFile(folder + "/TitleTemplate.clt");
        QCOMPARE(AttributeOf(clt, "Extension", "ReferencePath"), folder + "/");
        QCOMPARE(AttributeOf(clt, "ParticleAttribExt", "AnimationImage"),
                 QString(name + ".jpg").replace(' ', '_'));
    }

    void yieldsToTheEventLoop() {
        bool ran = false;
        QTimer::singleShot(0, this, [&ran] { ran = true; });
        FilledTemplateXml(kFire);
        QVERIFY(ran);
    }

    void failuresAreReported() {
        QTemporaryDir root;
        const QString missing = root.filePath("gone");
        TemplateWrite write = WriteTemplateXml(missing, kFire);
        QVERIFY(!write.ok);
        QVERIFY2(write.error.contains(missing + "/TitleTemplate.xml"), qPrintable(write.error));
        QVERIFY(!WriteTemplateClt(missing, "a.jpg", 1).ok);
        QVERIFY(!QFile::exists(missing));

        const QString notAFolder = root.filePath("file");
        QVERIFY(QFile(notAFolder).open(QIODevice::WriteOnly));
        write = WriteTemplateClt(notAFolder, "a.jpg", 1);
        QVERIFY(!write.ok);
        QVERIFY(write.error.contains("TitleTemplate.clt"));
    }

    void readOnlyKeepsTheOldFile() {
        if (geteuid() == 0) {
            QSKIP("root writes through read-only permissions");
        }
        QTemporaryDir dir;
        QVERIFY(WriteTemplateXml(dir.path(), kFire).ok);
        const QString path = dir.filePath("TitleTemplate.xml");
        const QByteArray good = ReadAll(path);

        QVERIFY(QFile::setPermissions(path, QFile::ReadOwner));
        TemplateWrite write = WriteTemplateXml(dir.path(), {"PRESET", "Sports", "Other"});
        QVERIFY(!write.ok);
        QVERIFY2(write.error.contains(path), qPrintable(write.error));
        QCOMPARE(ReadAll(path), good);

        QVERIFY(QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner));
        QVERIFY(QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::ExeOwner));
        write = WriteTemplateXml(dir.path(), {"PRESET", "Sports", "Other"});
        QVERIFY(QFile::setPermissions(dir.path(),
                                      QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        QVERIFY(!write.ok);
        QCOMPARE(ReadAll(path), good);
    }

    // A full disk, made by a file-size limit in a child process.
    void fullDiskKeepsTheOldFile() {
        QTemporaryDir dir;
        QVERIFY(WriteTemplateClt(dir.path(), "Fire_00001.jpg", 1500).ok);
        const QString path = dir.filePath("TitleTemplate.clt");
        const QByteArray good = ReadAll(path);

        const pid_t child = fork();
        QVERIFY(child >= 0);
        if (child == 0) {
            std::signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{1000, 1000};
            if (setrlimit(RLIMIT_FSIZE, &limit) != 0) {
                _exit(3);
            }
            const TemplateWrite write = WriteTemplateClt(dir.path(), "Other_00001.jpg", 99);
            _exit(write.ok ? 0 : write.error.contains(path) ? 1 : 2);
        }
        int status = 0;
        QCOMPARE(waitpid(child, &status, 0), child);
        QVERIFY(WIFEXITED(status));
        QCOMPARE(WEXITSTATUS(status), 1);
        QCOMPARE(ReadAll(path), good);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
                 QStringList{"TitleTemplate.clt"});
    }
};

QTEST_GUILESS_MAIN(TestTemplates)
#include "test_templates.moc"
