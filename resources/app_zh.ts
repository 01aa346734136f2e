<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_CN">
<context>
    <name>Glassmere</name>
    <message>
        <location filename="../batch/glassmere_batch.cpp" line="36"/>
        <source>Select a picture where the folder</source>
        <translation>选择图片所在的文件夹</translation>
    </message>
    <message>
        <location filename="../batch/glassmere_batch.cpp" line="47"/>
        <source>Select a folder to save processing results.</source>
        <translation>选择保存处理结果的文件夹。</translation>
    </message>
    <message>
        <location filename="../batch/glassmere_batch.cpp" line="75"/>
        <location filename="../batch/glassmere_batch.cpp" line="87"/>
        <location filename="../batch/glassmere_batch.cpp" line="120"/>
        <location filename="../batch/glassmere_batch.cpp" line="169"/>
        <location filename="../imaging/glassmere_open.cpp" line="30"/>
        <location filename="../imaging/glassmere_save.cpp" line="40"/>
        <source>Failure</source>
        <translation>失败</translation>
    </message>
    <message>
        <location filename="../batch/glassmere_batch.cpp" line="75"/>
        <location filename="../batch/glassmere_batch.cpp" line="120"/>
        <source>Selected directory error.</source>
        <translation>所选文件夹有误。</translation>
    </message>
    <message>
        <location filename="../batch/glassmere_batch.cpp" line="88"/>
        <source>The result folder is the picture folder, so nothing was done: the results would mix with the pictures, and a later run would take them for pictures. Please choose another folder for the results.</source>
        <translation>结果文件夹就是图片文件夹，因此未做任何处理：结果会与图片混在一起，以后再运行时还会被当作图片。请为结果另选一个文件夹。</translation>
    </message>
    <message>
        <location filename="../batch/glassmere_batch.cpp" line="143"/>
        <source>... and %1 more</source>
        <translation>……另有 %1 个</translation>
    </message>
    <message>
        <location filename="../batch/glassmere_batch.cpp" line="146"/>
        <source>Not read as pictures, skipped: %1</source>
        <translation>无法作为图片读取，已跳过：%1</translation>
    </message>
    <message>
        <location filename="../batch/glassmere_batch.cpp" line="147"/>
        <source>Not pictures, left alone: %1</source>
        <translation>不是图片，未处理：%1</translation>
    </message>
    <message>
        <location filename="../batch/glassmere_batch.cpp" line="150"/>
        <source>%3 as %4</source>
        <translation>%3 写为 %4</translation>
    </message>
    <message>
        <location filename="../batch/glassmere_batch.cpp" line="151"/>
        <source>Damaged, written as far as they could be read: %1</source>
        <translation>已损坏，按可读取的部分写入：%1</translation>
    </message>
    <message>
        <location filename="../batch/glassmere_batch.cpp" line="154"/>
        <source>%1: skipped: %6</source>
        <translation>%1：已跳过：%6</translation>
    </message>
    <message>
        <location filename="../batch/glassmere_batch.cpp" line="154"/>
        <source>%1: not written: %6</source>
        <translation>%1：未写入：%6</translation>
    </message>
    <message>
        <location filename="../batch/glassmere_batch.cpp" line="155"/>
        <source>%1: written as %2 instead of %5: %6</source>
        <translation>%1：写为 %2，而不是 %5：%6</translation>
    </message>
    <message>
        <location filename="../batch/glassmere_batch.cpp" line="148"/>
        <source>Results not written: %1</source>
        <translation>未写入的结果：%1</translation>
    </message>
    <message>
        <location filename="../batch/glassmere_batch.cpp" line="149"/>
        <source>Results written under another name: %1</source>
        <translation>以其他名称写入的结果：%1</translation>
    </message>
    <message>
        <location filename="../batch/glassmere_batch.cpp" line="156"/>
        <source>%1: not a picture: %6</source>
        <translation>%1：不是图片：%6</translation>
    </message>
    <message>
        <location filename="../batch/glassmere_batch.cpp" line="156"/>
        <source>%1: damaged: %6</source>
        <translation>%1：已损坏：%6</translation>
    </message>
    <message>
        <location filename="../batch/glassmere_batch.cpp" line="163"/>
        <source>Every file was written, %1 of them from a damaged picture.</source>
        <translation>所有文件均已写入，其中 %1 个来自损坏的图片。</translation>
    </message>
    <message>
        <location filename="../batch/glassmere_batch.cpp" line="169"/>
        <source>Notice</source>
        <translation>提示</translation>
    </message>
    <message>
        <location filename="../batch/glassmere_batch.cpp" line="161"/>
        <source>%1 of %2 files were not written.</source>
        <translation>%2 个文件中有 %1 个未写入。</translation>
    </message>
    <message>
        <location filename="../batch/glassmere_batch.cpp" line="166"/>
        <source>Every picture was written; some files were not pictures.</source>
        <translation>所有图片均已写入；有些文件不是图片。</translation>
    </message>
    <message>
        <location filename="../batch/glassmere_batch.cpp" line="168"/>
        <source>Every file was written, some under another name.</source>
        <translation>所有文件均已写入，其中一些使用了其他名称。</translation>
    </message>
    <message>
        <location filename="../imaging/glassmere_open.cpp" line="15"/>
        <source>All Images</source>
        <translation>所有图片</translation>
    </message>
    <message>
        <location filename="../imaging/glassmere_open.cpp" line="19"/>
        <source>Load a picture</source>
        <translation>打开图片</translation>
    </message>
    <message>
        <location filename="../imaging/glassmere_open.cpp" line="30"/>
        <source>Image loads error.</source>
        <translation>图片加载出错。</translation>
    </message>
    <message>
        <location filename="../imaging/glassmere_open.cpp" line="77"/>
        <source>Damaged picture</source>
        <translation>图片已损坏</translation>
    </message>
    <message>
        <location filename="../imaging/glassmere_open.cpp" line="78"/>
        <source>The picture is damaged: only part of it could be read.</source>
        <translation>图片已损坏：只能读取其中一部分。</translation>
    </message>
    <message>
        <location filename="../imaging/glassmere_save.cpp" line="26"/>
        <source>Save Image</source>
        <translation>保存图片</translation>
    </message>
    <message>
        <location filename="../imaging/glassmere_save.cpp" line="37"/>
        <source>Success</source>
        <translation>成功</translation>
    </message>
    <message>
        <location filename="../imaging/glassmere_save.cpp" line="37"/>
        <source>Image has been saved.</source>
        <translation>图片已保存。</translation>
    </message>
    <message>
        <location filename="../imaging/glassmere_save.cpp" line="40"/>
        <source>Failed to save image.</source>
        <translation>图片保存失败。</translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.cpp" line="85"/>
        <source>F1</source>
        <translation>F1</translation>
    </message>
</context>
<context>
    <name>GlassmereClass</name>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="14"/>
        <source>Glassmere</source>
        <translation>Glassmere</translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="486"/>
        <source>one-by-one</source>
        <translation>逐张处理</translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="498"/>
        <source>Setting</source>
        <translation>设置</translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="510"/>
        <source>Direction:</source>
        <translation>方向：</translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="523"/>
        <source>Top Reflection</source>
        <translation>顶部倒影</translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="536"/>
        <source>Left Reflection</source>
        <translation>左侧倒影</translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="549"/>
        <source>Right Reflection</source>
        <translation>右侧倒影</translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="562"/>
        <source>Bottom Reflection</source>
        <translation>底部倒影</translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="578"/>
        <location filename="../mainwindow/glassmere.ui" line="872"/>
        <source>Size:</source>
        <translation>大小：</translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="613"/>
        <source>40</source>
        <translation>40</translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="626"/>
        <location filename="../mainwindow/glassmere.ui" line="690"/>
        <location filename="../mainwindow/glassmere.ui" line="999"/>
        <source>%</source>
        <translation>%</translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="639"/>
        <source>Depth:</source>
        <translation>深度：</translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="677"/>
        <source>30</source>
        <translation>30</translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="703"/>
        <source>Color:</source>
        <translation>颜色：</translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="716"/>
        <source>Transparence</source>
        <translation>透明</translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="729"/>
        <source>Let the reflection touch the picture&apos;s content: an empty margin at the reflecting edge is left out.</source>
        <translation>让倒影紧贴图片内容：略去反射边上的空白边距。</translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="732"/>
        <source>Contact edge</source>
        <translation>紧贴边缘</translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="769"/>
        <source>#ffffff</source>
        <translation>#ffffff</translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="819"/>
        <source>Set reflection color.</source>
        <translation>设置倒影颜色。</translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="834"/>
        <source>Image information</source>
        <translation>图片信息</translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="846"/>
        <source>Name:</source>
        <translation>名称：</translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="859"/>
        <source>Type:</source>
        <translation>类型：</translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="885"/>
        <source>Dimensions:</source>
        <translation>尺寸：</translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="948"/>
        <source>Opacity:</source>
        <translation>强度：</translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="961"/>
        <source>Strength of the reflection where it touches the picture.</source>
        <translation>倒影与图片相接处的强度。</translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="986"/>
        <source>100</source>
        <translation>100</translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="1012"/>
        <source>Gap:</source>
        <translation>间距：</translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="1025"/>
        <source>Distance between the picture and its reflection.</source>
        <translation>图片与倒影之间的距离。</translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="1050"/>
        <location filename="../mainwindow/glassmere.ui" line="1114"/>
        <location filename="../mainwindow/glassmere.ui" line="1181"/>
        <source>0</source>
        <translation>0</translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="1063"/>
        <location filename="../mainwindow/glassmere.ui" line="1127"/>
        <location filename="../mainwindow/glassmere.ui" line="1194"/>
        <source>px</source>
        <translation>px</translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="1076"/>
        <source>Blur:</source>
        <translation>模糊：</translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="1089"/>
        <source>Blur at the outer end of the reflection.</source>
        <translation>倒影外端的模糊程度。</translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="1140"/>
        <source>Skew:</source>
        <translation>倾斜：</translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="1153"/>
        <source>How far the outer end of the reflection moves along the edge, as on a floor.</source>
        <translation>倒影外端沿边缘偏移的距离，如同映在地面上。</translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="1201"/>
        <source>all-at-once</source>
        <translation>批量处理</translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="1213"/>
        <source>Image Directory</source>
        <translation>图片文件夹</translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="1242"/>
        <location filename="../mainwindow/glassmere.ui" line="1284"/>
        <source>Browse</source>
        <translation>浏览</translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="1255"/>
        <source>Result Directory</source>
        <translation>结果文件夹</translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="1297"/>
        <source>Batch Generate</source>
        <translation>批量生成</translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="1310"/>
        <source>Process</source>
        <translation>进度</translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="1440"/>
        <source>Fit</source>
        <translation>适应</translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="1459"/>
        <source>Actual</source>
        <translation>原始</translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="1478"/>
        <source>ZoomIn</source>
        <translation>放大</translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="1497"/>
        <source>ZoomOut</source>
        <translation>缩小</translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="1600"/>
        <source>Help Manual</source>
        <translation>帮助手册</translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="1605"/>
        <source>&amp;Check for New Version</source>
        <translation>检查新版本(&amp;C)</translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="1610"/>
        <source>Online Support</source>
        <translation>在线支持</translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="1615"/>
        <source>&amp;Visit Our Web Site</source>
        <translation>访问我们的网站(&amp;V)</translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="1620"/>
        <source>&amp;About Us</source>
        <translation>关于我们(&amp;A)</translation>
    </message>
</context>
<context>
    <name>about</name>
    <message>
        <location filename="../widgets/about.cpp" line="11"/>
        <source>Glassmere</source>
        <translation>Glassmere</translation>
    </message>
    <message>
        <location filename="../widgets/about.cpp" line="14"/>
        <source>Free software under the GNU General Public License, version 3 or later, without any warranty.</source>
        <translation>自由软件，依照 GNU 通用公共许可证第 3 版或（您选择的）任何更高版本发布，不提供任何担保。</translation>
    </message>
</context>
<context>
    <name>aboutClass</name>
    <message>
        <location filename="../widgets/about.ui" line="17"/>
        <source>About</source>
        <translation>关于</translation>
    </message>
    <message>
        <location filename="../widgets/about.ui" line="33"/>
        <source>Glassmere 3.0.1.20 (2011.07.08)</source>
        <translation>Glassmere 3.0.1.20 (2011.07.08)</translation>
    </message>
    <message>
        <location filename="../widgets/about.ui" line="49"/>
        <source>Email:</source>
        <translation>电子邮件：</translation>
    </message>
    <message>
        <location filename="../widgets/about.ui" line="62"/>
        <source>Notice</source>
        <translation>声明</translation>
    </message>
    <message>
        <location filename="../widgets/about.ui" line="81"/>
        <source>OK</source>
        <translation>确定</translation>
    </message>
    <message>
        <location filename="../widgets/about.ui" line="113"/>
        <source>Web site</source>
        <translation>网站</translation>
    </message>
    <message>
        <location filename="../widgets/about.ui" line="126"/>
        <source>Licence</source>
        <translation>许可证</translation>
    </message>
</context>
</TS>
