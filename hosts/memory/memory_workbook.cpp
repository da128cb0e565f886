// placeholder until the in-memory workbook lands
