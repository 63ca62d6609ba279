// The «Графики» page, which plots the live values of the session, and
// «Файл» → «Записывать значения…», which writes them to a CSV file.
#pragma once

// Registers the page's and the menu item's handlers by name (before the
// window's signals are connected).
void trends_register_handlers();
// Looks the page up, takes every complete cycle's values (a display step) and
// hears when they go stale. Start-up, GDK lock held.
void trends_install();
// The link has ended: the charts break off; a recording waits, with a gap
// row, for its Controller to answer again. GUI thread, GDK lock held.
void trends_link_ended();
// The program is closing (its window hidden): a recording writes what it
// has and closes its file, waited for a moment at most.
void trends_finish_for_exit();
