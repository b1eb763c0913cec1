// file_ops.h - existence tests, deletes and moves. Deletes and moves clear a
// read-only attribute first; a move never replaces an existing target.
// Results: 1 success (or found), 0 failure; nothing is reported here.
#pragma once

namespace zz {

// file_exists - 1 when a search for the path or pattern finds anything
int file_exists(const char *path);
// is_dir - 1 for an existing directory or a volume root; callers strip a final "\"
int is_dir(const char *path);
int delete_file(const char *path);
// remove_directory - the directory must be empty
int remove_directory(const char *path);
// rename_file - fails when the new path exists; the moved file is never read-only
int rename_file(const char *old_path, const char *new_path);
// rename_writable_file - the same for a file just seen without the read-only attribute
int rename_writable_file(const char *old_path, const char *new_path);
// clear_read_only - failures ignored; the call that follows decides
void clear_read_only(const char *path);

}  // namespace zz
