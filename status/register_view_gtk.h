// «Сервис» → «Регистры…»: the register viewer dialog.
#pragma once

// Registers show_register_viewer, registers_read_clicked,
// registers_function_changed and registers_dialog_response.
void register_viewer_register_handlers();
