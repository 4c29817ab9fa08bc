// Every text the program shows to its users, one constant each. Operations report failure by
// returning one of these (empty text = success); the caller decides whether to show it.
#pragma once

namespace lumaweave::msg {

// Whole-file input and output.
inline constexpr const char* file_not_found = "file not found : ファイルが見つかりません";
inline constexpr const char* file_cannot_open = "file cannot open : ファイルをオープンできません";
inline constexpr const char* memory_error = "memory error : メモリを確保できませんでした";
inline constexpr const char* read_error = "読込エラー";
inline constexpr const char* could_not_create = "could not create file : ファイルを作成できませんでした";

// Palette configuration ("lumaweave_config.txt"); the key is appended.
inline constexpr const char* config_item_not_found = "設定項目が見付かりません : configuration item not found : ";
inline constexpr const char* config_not_enough = "設定数が不足しています : not enough settings : ";

// Source picture checks, in the order they are made.
inline constexpr const char* width_not_multiple_of_8 =
    "width is not a multiple of 8 : 横幅が８の倍数ではありません";
inline constexpr const char* width_exceeds_256 = "width exceeds 256 : 横幅が２５６を超えています";
inline constexpr const char* height_exceeds_192 =
    "vertical width exceeds 192 : 縦幅が１９２を超えています";
inline constexpr const char* image_too_small = "image too small : 画像が小さすぎます";
inline constexpr const char* format_not_convertible =
    "this format cannot be converted : 変換できないフォーマットです";

// Outcomes of a batch.
inline constexpr const char* select_a_file = "select a file : ファイルを指定して下さい";
inline constexpr const char* stopped = "stopped : 停止しました";
inline constexpr const char* ended = "ended : 終了しました";
inline constexpr const char* too_many_files = "too many files : ファイルが多過ぎます";

}  // namespace lumaweave::msg
