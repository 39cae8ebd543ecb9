// Replaced as the ports arrive.
