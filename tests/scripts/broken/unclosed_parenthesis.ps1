$result = [ordered]@{ level = 0 }
if (($result['level'] -ge 0) -and ($result['level'] -le 2) {
    exit 0
}
