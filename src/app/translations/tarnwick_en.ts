<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="ja">
<context>
    <name>Dialogs</name>
    <message>
        <source>場所:</source>
        <translation>Look in:</translation>
    </message>
    <message>
        <source>ファイル名:</source>
        <translation>File name:</translation>
    </message>
    <message>
        <source>ファイルの種類:</source>
        <translation>Files of type:</translation>
    </message>
    <message>
        <source>キャンセル</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>はい(&amp;Y)</source>
        <translation>&amp;Yes</translation>
    </message>
    <message>
        <source>いいえ(&amp;N)</source>
        <translation>&amp;No</translation>
    </message>
    <message>
        <source>開く</source>
        <translation>Open</translation>
    </message>
    <message>
        <source>JWW Files(*.jww)</source>
        <translation>JWW files (*.jww)</translation>
    </message>
    <message>
        <source>JWS Files(*.jws)</source>
        <translation>JWS files (*.jws)</translation>
    </message>
    <message>
        <source>JW Files(*.jw*)</source>
        <translation>JW files (*.jw*)</translation>
    </message>
    <message>
        <source>フォルダの選択</source>
        <translation>Choose a folder</translation>
    </message>
    <message>
        <source>選択</source>
        <translation>Choose</translation>
    </message>
    <message>
        <source>名前を付けて保存</source>
        <translation>Save as</translation>
    </message>
    <message>
        <source>テキストファイル(*.txt)</source>
        <translation>Text files (*.txt)</translation>
    </message>
    <message>
        <source>CSVファイル(*.csv)</source>
        <translation>CSV files (*.csv)</translation>
    </message>
    <message>
        <source>保存</source>
        <translation>Save</translation>
    </message>
    <message>
        <source>%1 は既に存在します。
上書きしますか？</source>
        <translation>%1 already exists.
Do you want to replace it?</translation>
    </message>
    <message>
        <source>名前を付けて保存の確認</source>
        <translation>Confirm Save As</translation>
    </message>
    <message>
        <source>確認</source>
        <translation>Confirm</translation>
    </message>
    <message>
        <source>警告</source>
        <translation>Warning</translation>
    </message>
    <message>
        <source>[ESC]キーを押しましたので検索を中断します</source>
        <translation>The search stops because the [Esc] key was pressed.</translation>
    </message>
    <message>
        <source>中止(&amp;A)</source>
        <translation>&amp;Abort</translation>
    </message>
    <message>
        <source>エラー</source>
        <translation>Error</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
</context>
<context>
    <name>tarnwick::PreviewPane</name>
    <message>
        <source>読み込み中…</source>
        <translation>Loading…</translation>
    </message>
    <message>
        <source>このブロックは読み取れませんでした。</source>
        <translation>This block could not be read.</translation>
    </message>
    <message>
        <source>図面を読み取れませんでした。</source>
        <translation>The drawing could not be read.</translation>
    </message>
    <message>
        <source>%1&#x3000;（ブロック番号 %2）</source>
        <translation>%1 (block number&#xa0;%2)</translation>
    </message>
    <message>
        <source>線 %1&#x3000;円・円弧 %2&#x3000;点 %3&#x3000;文字 %4&#x3000;寸法 %5&#x3000;ソリッド %6&#x3000;ブロック %7</source>
        <translation>Lines&#xa0;%1, circles and arcs&#xa0;%2, points&#xa0;%3, texts&#xa0;%4, dimensions&#xa0;%5, solids&#xa0;%6, blocks&#xa0;%7</translation>
    </message>
    <message>
        <source>大きさ %1 × %2</source>
        <translation>Size %1 × %2</translation>
    </message>
    <message>
        <source>図面は途中までしか読めませんでした。</source>
        <translation>Only part of the drawing could be read.</translation>
    </message>
    <message>
        <source>図形が多すぎるため一部だけを表示しています。</source>
        <translation>The block has too many shapes: only some of them are shown.</translation>
    </message>
    <message>
        <source>表示できる図形がありません。</source>
        <translation>Nothing to show.</translation>
    </message>
</context>
<context>
    <name>tarnwick::ResultsModel</name>
    <message>
        <source>ファイル名</source>
        <translation>File name</translation>
    </message>
    <message>
        <source>フルパスファイル名</source>
        <translation>Full path</translation>
    </message>
    <message>
        <source>定義ブロック名</source>
        <translation>Block name</translation>
    </message>
</context>
<context>
    <name>tarnwick::TForm1</name>
    <message>
        <source>ファイル指定(&amp;1)</source>
        <translation>&amp;1 Files</translation>
    </message>
    <message>
        <source>フォルダ指定(&amp;2)</source>
        <translation>&amp;2 Folders</translation>
    </message>
    <message>
        <source>検索するJWファイル名</source>
        <translation>JW files to search</translation>
    </message>
    <message>
        <source>追加(&amp;A)</source>
        <translation>&amp;Add...</translation>
    </message>
    <message>
        <source>削除(&amp;D)</source>
        <translation>&amp;Delete</translation>
    </message>
    <message>
        <source>全削除(&amp;E)</source>
        <translation>D&amp;elete all</translation>
    </message>
    <message>
        <source>検索(&amp;S)</source>
        <translation>&amp;Search</translation>
    </message>
    <message>
        <source>終了(&amp;X)</source>
        <translation>E&amp;xit</translation>
    </message>
    <message>
        <source>検索</source>
        <translation>Search</translation>
    </message>
    <message>
        <source>参照</source>
        <translation>Browse...</translation>
    </message>
    <message>
        <source>サブフォルダも検索</source>
        <translation>Include subfolders</translation>
    </message>
    <message>
        <source>ファイル一覧を全て削除します。よろしいですか？</source>
        <translation>Remove every file from the list?</translation>
    </message>
    <message>
        <source>[追加]又はドラッグ＆ドロップで JWW/JWSファイルを指示し、[検索]をクリックして下さい</source>
        <translation>Add JWW/JWS files with [Add] or by drag and drop, then click [Search]</translation>
    </message>
    <message>
        <source>検索するフォルダを指定し、□検索にチェックを入れ、[検索]をクリックして下さい</source>
        <translation>Enter the folders to search, tick their Search boxes, then click [Search]</translation>
    </message>
    <message>
        <source>検索結果が上限の %1 行に達したため、検索を打ち切りました</source>
        <translation>The search stopped at the limit of %1 rows</translation>
    </message>
    <message>
        <source>ブロック定義は見つかりませんでした</source>
        <translation>No block definitions found</translation>
    </message>
    <message>
        <source>検索中</source>
        <translation>Searching</translation>
    </message>
    <message>
        <source>ファイル【%1】検索中</source>
        <translation>Searching the file “%1”</translation>
    </message>
    <message>
        <source>フォルダ【%1】検索中</source>
        <translation>Searching the folder “%1”</translation>
    </message>
    <message>
        <source>索引を使って検索を速くする</source>
        <translation>Use the index to search faster</translation>
    </message>
    <message>
        <source>前回の検索から変わっていない図面は読み込まず、索引に記録した内容を使います</source>
        <translation>Drawings unchanged since the last search are not read again: their blocks come from the index</translation>
    </message>
    <message>
        <source>索引から%1件、読み込み%2件</source>
        <translation>%1 from the index, %2 read</translation>
    </message>
    <message>
        <source>索引を使えないため、すべての図面を読み込みました</source>
        <translation>The index could not be used: every drawing was read</translation>
    </message>
</context>
<context>
    <name>tarnwick::TForm2</name>
    <message>
        <source>検索結果</source>
        <translation>Search results</translation>
    </message>
    <message>
        <source>ブロック名：</source>
        <translation>Block name:</translation>
    </message>
    <message>
        <source>検索(&amp;F)</source>
        <translation>&amp;Find next</translation>
    </message>
    <message>
        <source>保存(&amp;S)</source>
        <translation>&amp;Save...</translation>
    </message>
    <message>
        <source>閉じる(&amp;C)</source>
        <translation>&amp;Close</translation>
    </message>
    <message>
        <source>ファイル【%1】を保存できませんでした。
%2</source>
        <translation>The file “%1” could not be saved.
%2</translation>
    </message>
    <message>
        <source>図面を開く(&amp;O)</source>
        <translation>&amp;Open drawing</translation>
    </message>
    <message>
        <source>フォルダーを開く(&amp;F)</source>
        <translation>Open &amp;folder</translation>
    </message>
    <message>
        <source>パスをコピー(&amp;P)</source>
        <translation>Copy &amp;path</translation>
    </message>
    <message>
        <source>ブロック名をコピー(&amp;B)</source>
        <translation>Copy &amp;block name</translation>
    </message>
</context>
</TS>
