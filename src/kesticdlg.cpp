// The Main window.
