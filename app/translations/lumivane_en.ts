<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en">
<context>
    <name>Console</name>
    <message>
        <source>cannot find the home folder: HOME is not set and the user has no entry in the password database</source>
        <translation>cannot find the home folder: HOME is not set and the user has no entry in the password database</translation>
    </message>
    <message>
        <source>the program&apos;s own folder is unknown</source>
        <translation>the program&apos;s own folder is unknown</translation>
    </message>
    <message>
        <source>the program&apos;s own folder is unknown (its path is &quot;%1&quot;)</source>
        <translation>the program&apos;s own folder is unknown (its path is &quot;%1&quot;)</translation>
    </message>
    <message>
        <source>cannot find the program&apos;s own folder: %1: %2</source>
        <translation>cannot find the program&apos;s own folder: %1: %2</translation>
    </message>
    <message>
        <source>unknown option &apos;%1&apos; (see &apos;lumivane --help&apos;)</source>
        <translation>unknown option &apos;%1&apos; (see &apos;lumivane --help&apos;)</translation>
    </message>
    <message>
        <source>cannot open the frame log %1: %2</source>
        <translation>cannot open the frame log %1: %2</translation>
    </message>
    <message>
        <source>QUALITY=HIGH on the renderer &quot;%1&quot;: %2 (%3)</source>
        <translation>QUALITY=HIGH on the renderer &quot;%1&quot;: %2 (%3)</translation>
    </message>
    <message>
        <source>cannot open a display. Lumivane is a desktop program: start it from a desktop session (the DISPLAY variable names the X server).</source>
        <translation>cannot open a display. Lumivane is a desktop program: start it from a desktop session (the DISPLAY variable names the X server).</translation>
    </message>
</context>
<context>
    <name>ErrorBox</name>
    <message>
        <source>原因不明のエラー</source>
        <translation>Unknown error</translation>
    </message>
    <message>
        <source>ストリームからの読み込みエラー</source>
        <translation>Stream read error</translation>
    </message>
    <message>
        <source>ファイル &quot;%1&quot;. %2 は開けません</source>
        <translation>Cannot open file &quot;%1&quot;. %2</translation>
    </message>
    <message>
        <source>スレッド作成エラー：%1</source>
        <translation>Thread creation error: %1</translation>
    </message>
</context>
<context>
    <name>MainWindow</name>
    <message>
        <source>終了(&amp;C)</source>
        <translation>&amp;Close</translation>
    </message>
    <message>
        <source>画像ファイルがありません</source>
        <translation>No picture files found</translation>
    </message>
    <message>
        <source>Now File(%1) Loading</source>
        <translation>Loading file (%1)</translation>
    </message>
</context>
<context>
    <name>PageBox</name>
    <message>
        <source>ページ</source>
        <translation>Page</translation>
    </message>
</context>
<context>
    <name>SearchPanel</name>
    <message>
        <source>フォルダ内の画像ファイルを探しています。</source>
        <translation>Searching the folder for picture files.</translation>
    </message>
    <message>
        <source>検索中のファイル</source>
        <translation>File being searched</translation>
    </message>
    <message>
        <source>検索中止(&amp;C)</source>
        <translation>&amp;Cancel search</translation>
    </message>
    <message>
        <source>ファイル検索の中止処理をしています</source>
        <translation>Stopping the file search</translation>
    </message>
    <message>
        <source>中止処理中</source>
        <translation>Stopping</translation>
    </message>
</context>
<context>
    <name>WaitingScreen</name>
    <message>
        <source>画像ファイルを待っています: %1</source>
        <translation>Waiting for pictures in %1</translation>
    </message>
</context>
</TS>
