// Handlers whose subsystem is still being built move to their subsystem's file (see
// ui/main_window.h) and leave this file. Every handler of the window is built now.
