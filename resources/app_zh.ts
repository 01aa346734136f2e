<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_CN">
<context>
    <name>Glassmere</name>
    <message>
        <location filename="../batch/glassmere_batch.cpp" line="36"/>
        <source>Select a picture where the folder</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../batch/glassmere_batch.cpp" line="47"/>
        <source>Select a folder to save processing results.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../batch/glassmere_batch.cpp" line="75"/>
        <location filename="../batch/glassmere_batch.cpp" line="87"/>
        <location filename="../batch/glassmere_batch.cpp" line="120"/>
        <location filename="../batch/glassmere_batch.cpp" line="169"/>
        <location filename="../imaging/glassmere_open.cpp" line="30"/>
        <location filename="../imaging/glassmere_save.cpp" line="40"/>
        <source>Failure</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../batch/glassmere_batch.cpp" line="75"/>
        <location filename="../batch/glassmere_batch.cpp" line="120"/>
        <source>Selected directory error.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../batch/glassmere_batch.cpp" line="88"/>
        <source>The result folder is the picture folder, so nothing was done: the results would mix with the pictures, and a later run would take them for pictures. Please choose another folder for the results.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../batch/glassmere_batch.cpp" line="143"/>
        <source>... and %1 more</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../batch/glassmere_batch.cpp" line="146"/>
        <source>Not read as pictures, skipped: %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../batch/glassmere_batch.cpp" line="147"/>
        <source>Not pictures, left alone: %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../batch/glassmere_batch.cpp" line="150"/>
        <source>%3 as %4</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../batch/glassmere_batch.cpp" line="151"/>
        <source>Damaged, written as far as they could be read: %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../batch/glassmere_batch.cpp" line="154"/>
        <source>%1: skipped: %6</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../batch/glassmere_batch.cpp" line="154"/>
        <source>%1: not written: %6</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../batch/glassmere_batch.cpp" line="155"/>
        <source>%1: written as %2 instead of %5: %6</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../batch/glassmere_batch.cpp" line="148"/>
        <source>Results not written: %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../batch/glassmere_batch.cpp" line="149"/>
        <source>Results written under another name: %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../batch/glassmere_batch.cpp" line="156"/>
        <source>%1: not a picture: %6</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../batch/glassmere_batch.cpp" line="156"/>
        <source>%1: damaged: %6</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../batch/glassmere_batch.cpp" line="163"/>
        <source>Every file was written, %1 of them from a damaged picture.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../batch/glassmere_batch.cpp" line="169"/>
        <source>Notice</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../batch/glassmere_batch.cpp" line="161"/>
        <source>%1 of %2 files were not written.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../batch/glassmere_batch.cpp" line="166"/>
        <source>Every picture was written; some files were not pictures.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../batch/glassmere_batch.cpp" line="168"/>
        <source>Every file was written, some under another name.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../imaging/glassmere_open.cpp" line="15"/>
        <source>All Images</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../imaging/glassmere_open.cpp" line="19"/>
        <source>Load a picture</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../imaging/glassmere_open.cpp" line="30"/>
        <source>Image loads error.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../imaging/glassmere_open.cpp" line="77"/>
        <source>Damaged picture</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../imaging/glassmere_open.cpp" line="78"/>
        <source>The picture is damaged: only part of it could be read.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../imaging/glassmere_save.cpp" line="26"/>
        <source>Save Image</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../imaging/glassmere_save.cpp" line="37"/>
        <source>Success</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../imaging/glassmere_save.cpp" line="37"/>
        <source>Image has been saved.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../imaging/glassmere_save.cpp" line="40"/>
        <source>Failed to save image.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.cpp" line="85"/>
        <source>F1</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>GlassmereClass</name>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="14"/>
        <source>Glassmere</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="486"/>
        <source>one-by-one</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="498"/>
        <source>Setting</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="510"/>
        <source>Direction:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="523"/>
        <source>Top Reflection</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="536"/>
        <source>Left Reflection</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="549"/>
        <source>Right Reflection</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="562"/>
        <source>Bottom Reflection</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="578"/>
        <location filename="../mainwindow/glassmere.ui" line="872"/>
        <source>Size:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="613"/>
        <source>40</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="626"/>
        <location filename="../mainwindow/glassmere.ui" line="690"/>
        <location filename="../mainwindow/glassmere.ui" line="999"/>
        <source>%</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="639"/>
        <source>Depth:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="677"/>
        <source>30</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="703"/>
        <source>Color:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="716"/>
        <source>Transparence</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="729"/>
        <source>Let the reflection touch the picture&apos;s content: an empty margin at the reflecting edge is left out.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="732"/>
        <source>Contact edge</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="769"/>
        <source>#ffffff</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="819"/>
        <source>Set reflection color.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="834"/>
        <source>Image information</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="846"/>
        <source>Name:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="859"/>
        <source>Type:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="885"/>
        <source>Dimensions:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="948"/>
        <source>Opacity:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="961"/>
        <source>Strength of the reflection where it touches the picture.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="986"/>
        <source>100</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="1012"/>
        <source>Gap:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="1025"/>
        <source>Distance between the picture and its reflection.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="1050"/>
        <location filename="../mainwindow/glassmere.ui" line="1114"/>
        <location filename="../mainwindow/glassmere.ui" line="1181"/>
        <source>0</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="1063"/>
        <location filename="../mainwindow/glassmere.ui" line="1127"/>
        <location filename="../mainwindow/glassmere.ui" line="1194"/>
        <source>px</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="1076"/>
        <source>Blur:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="1089"/>
        <source>Blur at the outer end of the reflection.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="1140"/>
        <source>Skew:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="1153"/>
        <source>How far the outer end of the reflection moves along the edge, as on a floor.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="1201"/>
        <source>all-at-once</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="1213"/>
        <source>Image Directory</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="1242"/>
        <location filename="../mainwindow/glassmere.ui" line="1284"/>
        <source>Browse</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="1255"/>
        <source>Result Directory</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="1297"/>
        <source>Batch Generate</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="1310"/>
        <source>Process</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="1440"/>
        <source>Fit</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="1459"/>
        <source>Actual</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="1478"/>
        <source>ZoomIn</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="1497"/>
        <source>ZoomOut</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="1600"/>
        <source>Help Manual</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="1605"/>
        <source>&amp;Check for New Version</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="1610"/>
        <source>Online Support</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="1615"/>
        <source>&amp;Visit Our Web Site</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="1620"/>
        <source>&amp;About Us</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>about</name>
    <message>
        <location filename="../widgets/about.cpp" line="11"/>
        <source>Glassmere</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../widgets/about.cpp" line="14"/>
        <source>Free software under the GNU General Public License, version 3 or later, without any warranty.</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>aboutClass</name>
    <message>
        <location filename="../widgets/about.ui" line="17"/>
        <source>About</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../widgets/about.ui" line="33"/>
        <source>Glassmere 3.0.1.20 (2011.07.08)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../widgets/about.ui" line="49"/>
        <source>Email:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../widgets/about.ui" line="62"/>
        <source>Notice</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../widgets/about.ui" line="81"/>
        <source>OK</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../widgets/about.ui" line="113"/>
        <source>Web site</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <location filename="../widgets/about.ui" line="126"/>
        <source>Licence</source>
        <translation type="unfinished"></translation>
    </message>
</context>
</TS>
