param([string]$Mode = 'read')

function Add-Error {
    param([string]$Text)
    if ($Text) {
        Write-Output $Text
}
