// placeholder: replaced by the folder's sources
