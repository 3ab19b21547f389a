/* A shared library that has the window module's file name but none of its
 * entry points, for the loader's rejection test. */
int zelanalyzer_gui_unrelated(void);
int zelanalyzer_gui_unrelated(void) { return 42; }
