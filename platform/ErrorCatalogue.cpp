// The standard texts of the error numbers, in Japanese, and the error box's text.
#include "platform/ErrorCatalogue.h"

#include <algorithm>
#include <array>
#include <iterator>
#include <utility>

#include "platform/Error.h"

namespace p2 {
namespace {

// Sorted by number.
constexpr std::array<std::pair<int32_t, const char*>, 39> kCatalogue{{
    {5, "プロシージャの呼び出し、または引数が正しくありません。"},
    {6, "値が大きすぎるか小さすぎて、扱える範囲を超えました (オーバーフロー)。"},
    {7, "メモリが足りません。"},
    {9, "インデックスが有効な範囲の外にあります。"},
    {11, "0 で割り算をしようとしました。"},
    {13, "データの型が合いません。"},
    {51, "内部エラーが起きました。"},
    {52, "ファイル名またはファイル番号が正しくありません。"},
    {53, "ファイルが見つかりません。"},
    {55, "ファイルはすでに開かれています。"},
    {57, "デバイスの入出力でエラーが起きました。"},
    {58, "同じ名前のファイルがすでにあります。"},
    {61, "ディスクに空きがありません。"},
    {67, "開いているファイルが多すぎます。"},
    {70, "アクセスが許可されていません。"},
    {75, "パスまたはファイルにアクセスできません。"},
    {76, "パスが見つかりません。"},
    {91, "オブジェクト変数が設定されていません。"},
    {424, "オブジェクトが必要です。"},
    {429, "オブジェクトを作成できません。コンポーネントが登録されていない可能性があります。"},
    {438, "このオブジェクトには、指定されたプロパティまたはメソッドがありません。"},
    {445, "このオブジェクトでは、この操作はできません。"},
    {3020, "編集中のレコードがないため、更新できません。"},
    {3021, "現在のレコードがありません。"},
    {3024, "データベース ファイルが見つかりません。"},
    {3027, "データベースが読み取り専用のため、更新できません。"},
    {3028, "ワークグループ情報ファイルが見つからないか、使用できません。"},
    {3029, "アカウント名またはパスワードが正しくありません。"},
    {3033, "このオブジェクトを使うためのアクセス権がありません。"},
    {3044, "パスが正しくありません。"},
    {3045, "ファイルはほかで使用中のため、開けません。"},
    {3049, "データベースが壊れているため、開けません。"},
    {3051, "ファイルを開けません。読み取り専用か、アクセス権がありません。"},
    {3075, "クエリ式の構文が正しくありません。"},
    {3078, "指定されたテーブルまたはクエリが見つかりません。"},
    {3260, "ほかのユーザーがロックしているため、更新できません。"},
    {3265, "指定された項目がコレクションの中に見つかりません。"},
    {3343, "データベースの形式を認識できません。"},
    {3420, "オブジェクトが無効になったか、設定されていません。"},
}};

constexpr const char* kGenericText = "アプリケーションまたはオブジェクトで定義されたエラーです。";

}  // namespace

std::string StandardErrorText(int32_t number) {
    auto it = std::lower_bound(kCatalogue.begin(), kCatalogue.end(), number,
                               [](const auto& entry, int32_t n) { return entry.first < n; });
    return (it != kCatalogue.end() && it->first == number) ? it->second : kGenericText;
}

std::string ErrorBoxText(int32_t number, const std::string& tag) {
    return "ｴﾗｰNo. " + std::to_string(number) + "  【" + tag + "】\r\n\r\n" +
           StandardErrorText(number);
}

}  // namespace p2
