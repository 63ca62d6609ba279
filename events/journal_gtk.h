// The journal expander of the events page: the read, stop and export buttons,
// the journal list and its progress panel. GUI thread.
#pragma once

// Handlers named in the interface description; before the window is built.
void journal_register_handlers();
// Once the window is built: the view shows the rows the search leaves in view.
void journal_install();
// «Прочитать журнал событий» is offered only while a read can start: a link is
// open and no read is busy. On every change of either.
void journal_controls_update();
