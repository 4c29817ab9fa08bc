#include "io/status.hpp"

namespace lumaweave {

std::string_view message_text(Status status) {
    switch (status) {
        case Status::ok:
            return "ended : 終了しました";
        case Status::file_not_found:
            return "file not found : ファイルが見つかりません";
        case Status::file_cannot_open:
            return "file cannot open : ファイルをオープンできません";
        case Status::memory_error:
            return "memory error : メモリを確保できませんでした";
        case Status::read_error:
            return "読込エラー";
        case Status::could_not_create:
            return "could not create file : ファイルを作成できませんでした";
        case Status::config_item_not_found:
            return "設定項目が見付かりません : configuration item not found : ";
        case Status::config_not_enough:
            return "設定数が不足しています : not enough settings : ";
        case Status::width_not_multiple_of_8:
            return "width is not a multiple of 8 : 横幅が８の倍数ではありません";
        case Status::width_exceeds_256:
            return "width exceeds 256 : 横幅が２５６を超えています";
        case Status::height_exceeds_192:
            return "vertical width exceeds 192 : 縦幅が１９２を超えています";
        case Status::image_too_small:
            return "image too small : 画像が小さすぎます";
        case Status::format_not_convertible:
            return "this format cannot be converted : 変換できないフォーマットです";
        case Status::invalid_settings:
            return "a conversion setting is out of its range";
        case Status::no_files:
            return "select a file : ファイルを指定して下さい";
        case Status::stopped:
            return "stopped : 停止しました";
        case Status::too_many_files:
            return "too many files : ファイルが多過ぎます";
        case Status::picture_unreadable:
            return "cannot read this picture";
        case Status::picture_too_large:
            return "the picture is too large to read";
    }
    return {};
}

std::string shown_text(const Outcome& outcome) {
    std::string text(message_text(outcome.status));
    if (outcome.status == Status::config_item_not_found ||
        outcome.status == Status::config_not_enough) {
        text += outcome.detail;
    }
    if ((outcome.status == Status::picture_unreadable ||
         outcome.status == Status::picture_too_large) &&
        !outcome.detail.empty()) {
        text += ": " + outcome.detail;
    }
    return text;
}

}  // namespace lumaweave
