// Written in UTF-8 and compiled to code page 932 bytes (-fexec-charset=CP932).
// ～ must stay U+FF5E so that it becomes 81 60.
#include "app/messages.h"

const char GameTitle[] = "ハルネル";
const char UpdateVersion[] = "1.01";
const char InstallKeyPath[] = "Software\\KORVEN\\harunel";
const char InstallDirValue[] = "Dir";
const char GameExeName[] = "harunel.exe";
const char PayloadRoot[] = "data";
const char UpdaterMutexName[] = "ZOLMIR_Updater";

const char PayloadInstIni[] = "data\\inst.ini";
const char PayloadZmbin[] = "data\\pac\\zmbin.zmk";
const char PayloadUpdate1[] = "data\\pac\\update1.zmk";

const char InstallInstIni[] = "inst.ini";
const char InstallPac[] = "pac";
const char InstallZmbin[] = "pac\\zmbin.zmk";
const char InstallUpdate1[] = "pac\\update1.zmk";

const char MsgNotInstalled[] = "%s が正常にインストールされていません\nインストール後、実行してください";
const char MsgGameRunning[] = "%s が起動中です。\n一旦終了させてください。";
const char MsgPayloadIncomplete[] =
    "アップデートファイル自体のデータが揃っていないか、または破損しています。\n"
    "お手数をおかけいたしますがもう一度ダウンロードし直してみてください。";
const char MsgConfirmNotice[] =
    "これから ver%s へのアップデートをおこないます。\r\n\r\n"
    "※ご注意\n\n"
    "ver1.00の時に作成されましたセーブデータを使用しますと\n"
    "場合により、描画がおかしくなったりエラーなどの現象が起きる恐れがございます。ご了承くださいませ。";
const char MsgConfirmStart[] =
    "ver%s へアップデート処理を開始します。よろしいですか？\r\n\r\n"
    "アップデート処理には数十秒～数分程かかりますので\r\n"
    "完了メッセージが表示されるまで、そのままでお待ちください。";
const char MsgCancelled[] = "アップデート処理をキャンセルしました。";
const char MsgUpdated[] =
    "ver%s にアップデート成功しました。\r\n\r\n"
    "ゲームを起動して、タイトルバーに「(ver%s)」と表示されているかご確認ください。";
const char MsgCopyFailed[] =
    "一部ファイルがコピー出来ませんでした。\n\n読み取り専用属性になっている可能性があります。";

const char CaptionNotInstalledKey[] = "エラー No.1";
const char CaptionNotInstalledDir[] = "エラー No.2";
const char CaptionNotInstalledFiles[] = "エラー No.3";
const char CaptionError[] = "エラー";
const char CaptionConfirmFormat[] = "%s アップデート";
const char CaptionCancelled[] = "中断";
const char CaptionUpdated[] = "完了";
const char CaptionCopyFailed[] = "失敗";
