// GTK handlers of the connection manager and the monitoring password dialog.
#pragma once

// Registers the handlers named in the interface description: SelectConnectionType,
// ConnectToDevice, DisconnectFromDevice, ConnectToDeviceOK, ConnectToDeviceOKIcon,
// ConnectToDeviceCancel, SetMonitoringPassword.
void link_register_handlers();

// Asks for the monitoring password once per connection. 1 to go on, 0 when the
// user cancelled. GUI thread, GDK lock held.
int ask_monitoring_password();
