// The SQLite engine's entry points that the layer binds at run time, as X-macro lists, so
// that the table, the binding and the checks are built from one list. Plain macros only:
// this header is also read by the C test library that lacks an entry point.
#pragma once

// The lists are laid out by hand, several names to a line.
// clang-format off

// The 92 required entry points, in binding order.
#define DCT_SQLITE_REQUIRED_ENTRY_POINTS(X)                                                    \
  X(sqlite3_open) X(sqlite3_open16) X(sqlite3_close) X(sqlite3_exec) X(sqlite3_libversion)     \
  X(sqlite3_errmsg) X(sqlite3_errmsg16) X(sqlite3_errcode) X(sqlite3_free) X(sqlite3_mprintf) \
  X(sqlite3_get_table) X(sqlite3_free_table) X(sqlite3_complete)                               \
  X(sqlite3_last_insert_rowid) X(sqlite3_interrupt) X(sqlite3_busy_handler)                    \
  X(sqlite3_busy_timeout) X(sqlite3_changes) X(sqlite3_total_changes) X(sqlite3_prepare)       \
  X(sqlite3_prepare_v2) X(sqlite3_prepare16) X(sqlite3_prepare16_v2) X(sqlite3_bind_blob)      \
  X(sqlite3_bind_text) X(sqlite3_bind_text16) X(sqlite3_bind_double) X(sqlite3_bind_int)       \
  X(sqlite3_bind_int64) X(sqlite3_bind_null) X(sqlite3_clear_bindings)                         \
  X(sqlite3_bind_parameter_index) X(sqlite3_bind_parameter_name)                               \
  X(sqlite3_bind_parameter_count) X(sqlite3_column_count) X(sqlite3_column_name)               \
  X(sqlite3_column_name16) X(sqlite3_column_decltype) X(sqlite3_column_decltype16)             \
  X(sqlite3_step) X(sqlite3_data_count) X(sqlite3_memory_used) X(sqlite3_column_blob)          \
  X(sqlite3_column_bytes) X(sqlite3_column_bytes16) X(sqlite3_column_double)                   \
  X(sqlite3_column_int) X(sqlite3_column_text) X(sqlite3_column_text16)                        \
  X(sqlite3_column_type) X(sqlite3_column_int64) X(sqlite3_finalize) X(sqlite3_reset)          \
  X(sqlite3_backup_init) X(sqlite3_backup_step) X(sqlite3_backup_finish)                       \
  X(sqlite3_backup_remaining) X(sqlite3_backup_pagecount) X(sqlite3_enable_shared_cache)       \
  X(sqlite3_create_collation) X(sqlite3_create_collation16) X(sqlite3_create_function)         \
  X(sqlite3_result_blob) X(sqlite3_result_double) X(sqlite3_result_error)                      \
  X(sqlite3_result_error16) X(sqlite3_result_int) X(sqlite3_result_int64)                      \
  X(sqlite3_result_null) X(sqlite3_result_text) X(sqlite3_result_text16)                       \
  X(sqlite3_result_text16be) X(sqlite3_result_text16le) X(sqlite3_result_value)                \
  X(sqlite3_user_data) X(sqlite3_aggregate_context) X(sqlite3_value_blob)                      \
  X(sqlite3_value_bytes) X(sqlite3_value_bytes16) X(sqlite3_value_double)                      \
  X(sqlite3_value_int) X(sqlite3_value_int64) X(sqlite3_value_text) X(sqlite3_value_text16)    \
  X(sqlite3_value_text16be) X(sqlite3_value_text16le) X(sqlite3_value_type)                    \
  X(sqlite3_set_authorizer) X(sqlite3_update_hook) X(sqlite3_create_module)                    \
  X(sqlite3_create_module_v2) X(sqlite3_declare_vtab)

// The 5 optional entry points: (name, type). The two key functions exist only in engines
// built with encryption, so sqlite3.h does not declare them.
#define DCT_SQLITE_OPTIONAL_ENTRY_POINTS(X)                                                   \
  X(sqlite3_table_column_metadata, decltype(&::sqlite3_table_column_metadata))                \
  X(sqlite3_enable_load_extension, decltype(&::sqlite3_enable_load_extension))                \
  X(sqlite3_load_extension, decltype(&::sqlite3_load_extension))                              \
  X(sqlite3_key, ::dct::TSQLiteKeyFunc) X(sqlite3_rekey, ::dct::TSQLiteKeyFunc)
// clang-format on
