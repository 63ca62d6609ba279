// "Подключиться" with USB chosen: the chooser of attached Controllers.
#pragma once

// Finds the attached Controllers, asks which one when there are several
// ("Выбор контроллера RARUR") and connects to it. GUI thread, GDK lock held.
void usb_connect_device();
