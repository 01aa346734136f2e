<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_CN">
<context>
    <name>Glassmere</name>
    <message>
        <location filename="../batch/glassmere_batch.cpp" line="37"/>
        <source>Select a picture where the folder</source>
        <translation>选择图片所在的文件夹</translation>
    </message>
    <message>
        <location filename="../batch/glassmere_batch.cpp" line="48"/>
        <source>Select a folder to save processing results.</source>
        <translation>选择保存处理结果的文件夹。</translation>
    </message>
    <message>
        <location filename="../batch/glassmere_batch.cpp" line="76"/>
        <location filename="../batch/glassmere_batch.cpp" line="88"/>
        <location filename="../batch/glassmere_batch.cpp" line="137"/>
        <location filename="../batch/glassmere_batch.cpp" line="181"/>
        <location filename="../imaging/glassmere_clipboard.cpp" line="43"/>
        <location filename="../imaging/glassmere_clipboard.cpp" line="76"/>
        <location filename="../imaging/glassmere_open.cpp" line="31"/>
        <location filename="../imaging/glassmere_save.cpp" line="71"/>
        <source>Failure</source>
        <translation>失败</translation>
    </message>
    <message>
        <location filename="../batch/glassmere_batch.cpp" line="76"/>
        <location filename="../batch/glassmere_batch.cpp" line="137"/>
        <source>Selected directory error.</source>
        <translation>所选文件夹有误。</translation>
    </message>
    <message>
        <location filename="../batch/glassmere_batch.cpp" line="89"/>
        <source>The result folder is the picture folder, so nothing was done: the results would mix with the pictures, and a later run would take them for pictures. Please choose another folder for the results.</source>
        <translation>结果文件夹就是图片文件夹，因此未做任何处理：结果会与图片混在一起，以后再运行时还会被当作图片。请为结果另选一个文件夹。</translation>
    </message>
    <message>
        <location filename="../batch/glassmere_batch.cpp" line="151"/>
        <source>%1 of %2 files written, %3 skipped, %4 not written, %5 renamed.</source>
        <translation>已写入 %1 / %2 个文件，跳过 %3 个，未写入 %4 个，改名 %5 个。</translation>
    </message>
    <message>
        <location filename="../batch/glassmere_batch.cpp" line="152"/>
        <source>%1 not pictures, left alone.</source>
        <translation>%1 个不是图片，未处理。</translation>
    </message>
    <message>
        <location filename="../batch/glassmere_batch.cpp" line="153"/>
        <source>%1 damaged, written as far as they could be read.</source>
        <translation>%1 个已损坏，按可读取的部分写入。</translation>
    </message>
    <message>
        <location filename="../batch/glassmere_batch.cpp" line="155"/>
        <source>stopped: %1 files not begun.</source>
        <translation>已停止：%1 个文件未开始处理。</translation>
    </message>
    <message>
        <location filename="../batch/glassmere_batch.cpp" line="167"/>
        <source>... and %1 more</source>
        <translation>……另有 %1 个</translation>
    </message>
    <message>
        <location filename="../batch/glassmere_batch.cpp" line="170"/>
        <source>Not read as pictures, skipped: %1</source>
        <translation>无法作为图片读取，已跳过：%1</translation>
    </message>
    <message>
        <location filename="../batch/glassmere_batch.cpp" line="171"/>
        <source>Not pictures, left alone: %1</source>
        <translation>不是图片，未处理：%1</translation>
    </message>
    <message>
        <location filename="../batch/glassmere_batch.cpp" line="174"/>
        <source>%3 as %4</source>
        <translation>%3 写为 %4</translation>
    </message>
    <message>
        <location filename="../batch/glassmere_batch.cpp" line="175"/>
        <source>Damaged, written as far as they could be read: %1</source>
        <translation>已损坏，按可读取的部分写入：%1</translation>
    </message>
    <message>
        <location filename="../batch/glassmere_batch.cpp" line="172"/>
        <source>Results not written: %1</source>
        <translation>未写入的结果：%1</translation>
    </message>
    <message>
        <location filename="../batch/glassmere_batch.cpp" line="173"/>
        <source>Results written under another name: %1</source>
        <translation>以其他名称写入的结果：%1</translation>
    </message>
    <message>
        <location filename="../batch/glassmere_batch.cpp" line="184"/>
        <source>Notice</source>
        <translation>提示</translation>
    </message>
    <message>
        <location filename="../imaging/glassmere_open.cpp" line="16"/>
        <source>All Images</source>
        <translation>所有图片</translation>
    </message>
    <message>
        <location filename="../imaging/glassmere_open.cpp" line="20"/>
        <source>Load a picture</source>
        <translation>打开图片</translation>
    </message>
    <message>
        <location filename="../imaging/glassmere_clipboard.cpp" line="43"/>
        <source>The result could not be copied.</source>
        <translation>无法复制结果。</translation>
    </message>
    <message>
        <location filename="../imaging/glassmere_clipboard.cpp" line="76"/>
        <location filename="../imaging/glassmere_open.cpp" line="31"/>
        <source>Image loads error.</source>
        <translation>图片加载出错。</translation>
    </message>
    <message>
        <location filename="../imaging/glassmere_open.cpp" line="86"/>
        <source>Damaged picture</source>
        <translation>图片已损坏</translation>
    </message>
    <message>
        <location filename="../imaging/glassmere_open.cpp" line="87"/>
        <source>The picture is damaged: only part of it could be read.</source>
        <translation>图片已损坏：只能读取其中一部分。</translation>
    </message>
    <message>
        <location filename="../imaging/glassmere_save.cpp" line="47"/>
        <source>Save Image</source>
        <translation>保存图片</translation>
    </message>
    <message>
        <location filename="../batch/glassmere_batch.cpp" line="178"/>
        <location filename="../imaging/glassmere_save.cpp" line="68"/>
        <source>Success</source>
        <translation>成功</translation>
    </message>
    <message>
        <location filename="../imaging/glassmere_save.cpp" line="68"/>
        <source>Image has been saved.</source>
        <translation>图片已保存。</translation>
    </message>
    <message>
        <location filename="../imaging/glassmere_save.cpp" line="71"/>
        <source>Failed to save image.</source>
        <translation>图片保存失败。</translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.cpp" line="96"/>
        <source>F1</source>
        <translation>F1</translation>
    </message>
</context>
<context>
    <name>GlassmereClass</name>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="15"/>
        <source>Glassmere</source>
        <translation>Glassmere</translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="487"/>
        <source>one-by-one</source>
        <translation>逐张处理</translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="499"/>
        <source>Setting</source>
        <translation>设置</translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="511"/>
        <source>Direction:</source>
        <translation>方向：</translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="524"/>
        <source>Top Reflection</source>
        <translation>顶部倒影</translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="537"/>
        <source>Left Reflection</source>
        <translation>左侧倒影</translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="550"/>
        <source>Right Reflection</source>
        <translation>右侧倒影</translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="563"/>
        <source>Bottom Reflection</source>
        <translation>底部倒影</translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="579"/>
        <location filename="../mainwindow/glassmere.ui" line="873"/>
        <source>Size:</source>
        <translation>大小：</translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="614"/>
        <source>40</source>
        <translation>40</translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="627"/>
        <location filename="../mainwindow/glassmere.ui" line="691"/>
        <location filename="../mainwindow/glassmere.ui" line="1000"/>
        <source>%</source>
        <translation>%</translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="640"/>
        <source>Depth:</source>
        <translation>深度：</translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="678"/>
        <source>30</source>
        <translation>30</translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="704"/>
        <source>Color:</source>
        <translation>颜色：</translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="717"/>
        <source>Transparence</source>
        <translation>透明</translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="730"/>
        <source>Let the reflection touch the picture&apos;s content: an empty margin at the reflecting edge is left out.</source>
        <translation>让倒影紧贴图片内容：略去反射边上的空白边距。</translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="733"/>
        <source>Contact edge</source>
        <translation>紧贴边缘</translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="770"/>
        <source>#ffffff</source>
        <translation>#ffffff</translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="820"/>
        <source>Set reflection color.</source>
        <translation>设置倒影颜色。</translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="835"/>
        <source>Image information</source>
        <translation>图片信息</translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="847"/>
        <source>Name:</source>
        <translation>名称：</translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="860"/>
        <source>Type:</source>
        <translation>类型：</translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="886"/>
        <source>Dimensions:</source>
        <translation>尺寸：</translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="949"/>
        <source>Opacity:</source>
        <translation>强度：</translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="962"/>
        <source>Strength of the reflection where it touches the picture.</source>
        <translation>倒影与图片相接处的强度。</translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="987"/>
        <source>100</source>
        <translation>100</translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="1013"/>
        <source>Gap:</source>
        <translation>间距：</translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="1026"/>
        <source>Distance between the picture and its reflection.</source>
        <translation>图片与倒影之间的距离。</translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="1051"/>
        <location filename="../mainwindow/glassmere.ui" line="1115"/>
        <location filename="../mainwindow/glassmere.ui" line="1182"/>
        <source>0</source>
        <translation>0</translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="1064"/>
        <location filename="../mainwindow/glassmere.ui" line="1128"/>
        <location filename="../mainwindow/glassmere.ui" line="1195"/>
        <source>px</source>
        <translation>px</translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="1077"/>
        <source>Blur:</source>
        <translation>模糊：</translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="1090"/>
        <source>Blur at the outer end of the reflection.</source>
        <translation>倒影外端的模糊程度。</translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="1141"/>
        <source>Skew:</source>
        <translation>倾斜：</translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="1154"/>
        <source>How far the outer end of the reflection moves along the edge, as on a floor.</source>
        <translation>倒影外端沿边缘偏移的距离，如同映在地面上。</translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="1202"/>
        <source>all-at-once</source>
        <translation>批量处理</translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="1214"/>
        <source>Image Directory</source>
        <translation>图片文件夹</translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="1243"/>
        <location filename="../mainwindow/glassmere.ui" line="1285"/>
        <source>Browse</source>
        <translation>浏览</translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="1256"/>
        <source>Result Directory</source>
        <translation>结果文件夹</translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="1298"/>
        <source>Batch Generate</source>
        <translation>批量生成</translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="1311"/>
        <source>Process</source>
        <translation>进度</translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="1441"/>
        <source>Fit</source>
        <translation>适应</translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="1460"/>
        <source>Actual</source>
        <translation>原始</translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="1479"/>
        <source>ZoomIn</source>
        <translation>放大</translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="1498"/>
        <source>ZoomOut</source>
        <translation>缩小</translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="1601"/>
        <source>Help Manual</source>
        <translation>帮助手册</translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="1606"/>
        <source>&amp;Check for New Version</source>
        <translation>检查新版本(&amp;C)</translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="1611"/>
        <source>Online Support</source>
        <translation>在线支持</translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="1616"/>
        <source>&amp;Visit Our Web Site</source>
        <translation>访问我们的网站(&amp;V)</translation>
    </message>
    <message>
        <location filename="../mainwindow/glassmere.ui" line="1621"/>
        <source>&amp;About Us</source>
        <translation>关于我们(&amp;A)</translation>
    </message>
</context>
<context>
    <name>about</name>
    <message>
        <location filename="../widgets/about.cpp" line="12"/>
        <source>Glassmere</source>
        <translation>Glassmere</translation>
    </message>
    <message>
        <location filename="../widgets/about.cpp" line="15"/>
        <source>Free software under the GNU General Public License, version 3 or later, without any warranty.</source>
        <translation>自由软件，依照 GNU 通用公共许可证第 3 版或（您选择的）任何更高版本发布，不提供任何担保。</translation>
    </message>
</context>
<context>
    <name>aboutClass</name>
    <message>
        <location filename="../widgets/about.ui" line="18"/>
        <source>About</source>
        <translation>关于</translation>
    </message>
    <message>
        <location filename="../widgets/about.ui" line="34"/>
        <source>Glassmere 3.0.1.20 (2011.07.08)</source>
        <translation>Glassmere 3.0.1.20 (2011.07.08)</translation>
    </message>
    <message>
        <location filename="../widgets/about.ui" line="50"/>
        <source>Email:</source>
        <translation>电子邮件：</translation>
    </message>
    <message>
        <location filename="../widgets/about.ui" line="63"/>
        <source>Notice</source>
        <translation>声明</translation>
    </message>
    <message>
        <location filename="../widgets/about.ui" line="82"/>
        <source>OK</source>
        <translation>确定</translation>
    </message>
    <message>
        <location filename="../widgets/about.ui" line="114"/>
        <source>Web site</source>
        <translation>网站</translation>
    </message>
    <message>
        <location filename="../widgets/about.ui" line="127"/>
        <source>Licence</source>
        <translation>许可证</translation>
    </message>
</context>
</TS>
