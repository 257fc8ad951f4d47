/* Resource types of the class library; included by resource scripts too, so plain C. */
#pragma once

/* A dialog's layout data, under the dialog's template id: per control its id and how far it
   moves and grows, in percent of the change of the client area: move x, move y, size x, size y
   (WORDs). */
#define RT_LAYOUT_DATA_ID 240

/* A dialog's combo-box strings, under the dialog's template id, added in order when the dialog
   initialises: per string the control id (WORD), then the text as UTF-16 ended by a NUL
   (L"AVI\0"). An id of 0 ends the data. */
#define RT_DLGINIT_DATA_ID 241
