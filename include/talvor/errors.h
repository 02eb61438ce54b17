/* Talvor client library: the codes of the last error, as TalvorError() and
 * talvor_error() return them. Usable from C and C++; talvor_error_text()
 * describes each. */
#ifndef TALVOR_ERRORS_H
#define TALVOR_ERRORS_H

enum talvor_error_code {
  talvor_ok = 0,
  talvor_err_channel = 1,                /* the command channel could not be created */
  talvor_err_memory = 2,                 /* out of memory */
  talvor_err_no_thread = 3,              /* connect: no communications thread came up */
  talvor_err_thread_still_running = 4,   /* disconnect: the thread did not end in time */
  talvor_err_table_full = 5,             /* search: the result-set table is full */
  talvor_err_missing_block = 6,          /* a reply block is missing */
  talvor_err_unexpected_reply = 7,       /* the server answered with an unexpected reply */
  talvor_err_no_such_form = 8,           /* search: no such form */
  talvor_err_login = 9,                  /* search: login refused */
  talvor_err_open_application = 10,      /* search: the application could not be opened */
  talvor_err_empty_slot = 11,            /* the handle's slot holds no result set */
  talvor_err_bad_handle = 12,            /* the handle is outside 0..1023 */
  talvor_err_no_sort_item = 13,          /* sort: no usable sort item */
  talvor_err_bad_position = 14,          /* position below 1 */
  talvor_err_user_level = 15,            /* the user level is too low for the operation */
  talvor_err_subset_table_full = 16,     /* subset/parent: the result-set table is full */
  talvor_err_not_running = 17,           /* disconnect: no communications thread is running */
  talvor_err_not_connected = 18,         /* no live connection */
  talvor_err_unsendable_text = 19        /* a text equals the end-of-list marker */
};

#endif
