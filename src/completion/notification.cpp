// notification.cpp - the notification send request: subject, the
// administrator's address, no protection, and a body naming where the failed
// send directory went. Its fixed texts are the system's own, code page 1251.
#include "completion/notification.h"

#include <string>

#include "files/file_io.h"
#include "files/file_ops.h"
#include "files/tmp_dir.h"
#include "frame/events.h"
#include "host/settings.h"

namespace zz {
namespace {

constexpr const char *kFunction = "send_notification";
// "Уведомление Тельмара о сбое при отправке файла"
constexpr const char kSubject[] =
    "\xD3\xE2\xE5\xE4\xEE\xEC\xEB\xE5\xED\xE8\xE5 \xD2\xE5\xEB\xFC\xEC\xE0\xF0\xE0 \xEE "
    "\xF1\xE1\xEE\xE5 \xEF\xF0\xE8 \xEE\xF2\xEF\xF0\xE0\xE2\xEA\xE5 \xF4\xE0\xE9\xEB\xE0";
// "Файл перенесен в архивную директорию: "
constexpr const char kMovedTo[] =
    "\xD4\xE0\xE9\xEB \xEF\xE5\xF0\xE5\xED\xE5\xF1\xE5\xED \xE2 "
    "\xE0\xF0\xF5\xE8\xE2\xED\xF3\xFE \xE4\xE8\xF0\xE5\xEA\xF2\xEE\xF0\xE8\xFE: ";

}  // namespace

int32_t send_notification(const char *output_dir, const char *address, const char *type,
                          const char *moved_path) {
  char dir[host::kTextSize];
  if (!create_tmp_dir(output_dir, dir)) {
    report_failure(OXT_EV_CREATE_DIR, "CreateDirectory", kFunction, dir);
    return -1;
  }
  // The body names the whole path; nothing is cut.
  const std::string text = std::string("Subject:") + kSubject + "\r\n" + "Email:" + type + ":" +
                           address + "\r\n" + "Protection:Plain\r\n" + "Body:\r\n" + kMovedTo +
                           moved_path + "\r\n";
  const std::string path = std::string(dir) + "\\olminfo.txt";
  if (!write_to_file(path.c_str(), text.data(), static_cast<uint32_t>(text.size()))) {
    report_failure(OXT_EV_WRITE_FILE, "write_to_file", kFunction, path);
    remove_directory(dir);
    return -1;
  }
  return 0;
}

}  // namespace zz
